// Size trims for the shipped exe's static C++ runtime; Windows build only.
//
// libstdc++'s default terminate handler prints the escaping exception's
// demangled type, which links the whole demangler (about 76 KB here); this
// GUI program has nowhere to print it. Its range-check helpers build
// std::logic_error objects, which link the char string machinery (about
// 90 KB). Ours throw std::bad_alloc instead: still an exception, so the
// discovery guard still catches them, and they are only reached when a text
// would outgrow what memory can hold. Measured in docs/benchmarks.md.
#include <cstdlib>
#include <new>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_logic_error(const char*) { throw bad_alloc(); }
void __throw_out_of_range_fmt(const char*, ...) { throw bad_alloc(); }
}  // namespace std
