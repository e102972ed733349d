// The stack protector's guard and its failure handler, in place of libssp's.
// libssp seeds its guard through CryptAcquireContext, which loads the Crypto
// API's provider DLLs before main: under Wine that cost 3 MB of memory and
// tens of milliseconds before the browser started (docs/hardening.md). The
// guard here is seeded the way Microsoft's own /GS cookie is: from the
// clock, the tick count, the performance counter and the process's and
// thread's ids, with the stack's own address for ASLR's share.
#include <windows.h>

#include <cstdint>

extern "C" {

// Read by every protected function on entry and compared on exit.
void* __stack_chk_guard = reinterpret_cast<void*>(0xBB40E64E);

// A smashed stack: the process ends at once, as a /GS failure does; the
// message is for a debugger.
[[noreturn]] void __stack_chk_fail() {
  ::OutputDebugStringA("stack smashing detected: the process is stopped");
  ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}

}  // extern "C"

namespace {

// Runs before any protected function of ours, and must not be one itself:
// the guard changes under it.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  std::uintptr_t seed = now.dwHighDateTime ^ now.dwLowDateTime;
  seed ^= ::GetCurrentProcessId() ^ ::GetCurrentThreadId() ^ ::GetTickCount();
  seed ^= static_cast<std::uintptr_t>(counter.HighPart) ^ counter.LowPart;
  seed ^= reinterpret_cast<std::uintptr_t>(&seed);
  if (seed != 0) __stack_chk_guard = reinterpret_cast<void*>(seed);
}

}  // namespace
