// Counts heap allocations made outside the simulated platform calls, that
// is, by the launcher's own code. Linking alloc_counter.cpp replaces the
// global operator new, so it goes only into binaries without AddressSanitizer.
#pragma once

#include <cstddef>

namespace sim {
std::size_t LauncherAllocations();
}  // namespace sim
