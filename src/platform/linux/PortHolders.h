#pragma once

#include <cstdint>
#include <sys/types.h>
#include <vector>

// Which sockets hold a port of this host, from the kernel's socket diagnostics (netlink), or where
// those cannot be asked its socket tables (/proc/net/tcp, tcp6, udp, udp6), and whether a process
// holds one of them among its descriptors. Nothing connects, nothing waits.

// The inodes of the TCP sockets listening on port (any local address), or of the UDP sockets
// bound to it.
std::vector<ino_t> PortSocketInodes(std::uint16_t port, bool udp);

// Whether one of pid's descriptors is one of those sockets: 1 when it is, 0 when not, -1 when its
// descriptors cannot be read (it has ended, or belongs to another user).
int HoldsSocket(pid_t pid, const std::vector<ino_t>& inodes);
