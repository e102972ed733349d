// Entry point of the doctor, a console program for the support staff of
// those who ship the launcher. It reads what the launcher reads, starts
// nothing and writes nothing but its report.
#include <string_view>

#include "app/build_config.h"
#include "doctor/doctor.h"
#include "platform/console.h"

namespace {
constexpr char16_t kUsage[] = u"usage: " LAUNCHER_EXE_NAME "-doctor [--json]\n";
}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--help" || arg == "/?") {
      platform::console::WriteOut(kUsage);
      return 0;
    } else {
      platform::console::WriteError(kUsage);
      return 2;
    }
  }
  const doctor::Report report = doctor::Diagnose(u"" LAUNCHER_EXE_NAME);
  platform::console::WriteOut(json ? doctor::FormatJson(report) : doctor::FormatText(report));
  if (platform::console::AloneOnConsole()) {
    platform::console::WriteOut(u"\nPress Enter to close");
    platform::console::WaitForEnter();
  }
  return 0;
}
