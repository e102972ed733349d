// The shipped programs' stack guard (startup/win32_stack_guard.cpp) in a
// probe: prints the guard as seeded; given an argument, copies it into a
// small buffer, which a long one overruns.
#include <cstdio>
#include <cstring>

extern "C" void* __stack_chk_guard;

int main(int argc, char** argv) {
  char buffer[8] = "";
  std::printf("%p\n", __stack_chk_guard);
  if (argc > 1) std::strcpy(buffer, argv[1]);
  std::puts(buffer);
  return 0;
}
