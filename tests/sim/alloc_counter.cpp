#include "tests/sim/alloc_counter.h"

#include <cstdlib>
#include <new>

#include "tests/sim/world.h"

namespace {
std::size_t launcher_allocations = 0;
}  // namespace

std::size_t sim::LauncherAllocations() { return launcher_allocations; }

void* operator new(std::size_t size) {
  if (!sim::InsidePlatform()) ++launcher_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
