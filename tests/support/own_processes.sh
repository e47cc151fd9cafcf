#!/usr/bin/env bash
# Runs a test that starts stand-in servers (the command and its arguments) where it sees no process
# but its own: in a PID namespace of its own, with a /proc of that namespace. The launcher
# recognises a server by its program name among all the processes it can see, so two such tests
# overlap safely only when neither sees the other's servers.
#
# A bash is the namespace's first process: it adopts what the test leaves behind (tmux servers,
# servers whose console closed) and reaps it, so that no ended server lingers as a zombie under
# its name; when it ends, the kernel ends every process left in the namespace. The test's own
# clean-up still runs first. The exit status is the test's, 128 + the signal when one ended it.
#
# Where unshare is refused (no root and no user namespaces, or a seccomp filter), the test runs
# as before, in the machine's namespace, and takes a lock that every such test takes: they then
# run one at a time, whatever ctest was told.
set -u
(($#)) || { echo "usage: $0 COMMAND [ARGUMENTS...]" >&2; exit 2; }
lock="${CORVANE_STANDIN_LOCK:-${TMPDIR:-/tmp}/corvane-standin-servers.lock}"

if unshare --pid --fork --mount-proc --kill-child true 2>/dev/null; then
    exec unshare --pid --fork --mount-proc --kill-child bash -c '"$@" & wait $!' own_processes "$@"
fi
echo "own_processes.sh: unshare refused; waiting for the stand-in servers' lock $lock" >&2
exec flock "$lock" "$@"
