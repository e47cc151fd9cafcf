#pragma once

#include <QStringList>
#include <cstdint>

// What this very process holds: open descriptors and memory.
namespace self {

int OpenDescriptors();           // entries of /proc/self/fd
int Pidfds();                    // of those, the process handles (pidfds)
QStringList DescriptorTargets(); // what each descriptor points at, sorted
std::int64_t ResidentKb();       // VmRSS of /proc/self/status
// Bytes the heap holds now: the sanitizer's own count when it keeps freed memory aside (its
// resident size then says little), otherwise the resident size.
std::int64_t HeapOrResidentBytes();

} // namespace self
