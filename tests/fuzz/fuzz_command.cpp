// Command split, address insertion and name derivation over any command:
// nothing is read out of range (the sanitizers watch), the split loses no
// character, and the address lands exactly once per "%1".
#include <cstdlib>

#include "app/launch.h"
#include "browser/browser_command.h"
#include "tests/fuzz/fuzz_input.h"
#include "watch/watch.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::size_t CountPlaceholders(const std::u16string& s) {
  std::size_t n = 0;
  for (std::size_t at = s.find(u"%1"); at != std::u16string::npos; at = s.find(u"%1", at + 2)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::u16string command = in.Text(120);
  const std::u16string address = in.Byte() & 1 ? std::u16string(app::GameAddress) : in.Text(10);

  const browser::Command split = browser::SplitCommand(command);
  Check(split.Program + split.Arguments == command);
  Check(split.Program.empty() || split.Program.back() == u'"');

  const std::u16string arguments = app::PutAddress(split.Arguments, address);
  const std::size_t placeholders = CountPlaceholders(split.Arguments);
  if (placeholders == 0) {
    Check(arguments == address);
  } else {
    Check(arguments.size() == split.Arguments.size() + placeholders * address.size() - placeholders * 2);
  }

  const std::u16string name = watch::DeriveWatchedName(split.Program);
  Check(name == u"opera.exe" || split.Program.find(name) != std::u16string::npos);
  Check(name.find(u'\\') == std::u16string::npos || name == u"opera.exe");
  return 0;
}
