// Entry point of the doctor, a console program for the support staff of
// those who ship the launcher. It reads what the launcher reads, starts
// nothing and writes nothing but its report. Wide arguments, so that a file
// named with --out may hold any character.
#include <cwchar>
#include <vector>

#include "app/build_config.h"
#include "doctor/cli.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<text::Text> args;
  for (int i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    args.emplace_back(reinterpret_cast<const char16_t*>(arg), std::wcslen(arg));
  }
  return doctor::RunDoctor(u"" LAUNCHER_EXE_NAME, args);
}
