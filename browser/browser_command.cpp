#include "browser/browser_command.h"

#include "browser/registry.h"
#include "platform/platform.h"

namespace browser {

using text::Text;

Command BrowserCommand;

namespace {

constexpr char16_t kDefaultValue[] = u"";

// The newer choice, or empty text when it is missing or unusable in any way:
// a broken newer key must not hide the browser the legacy key still names.
Text ReadLatestProgId(TRegistry& registry) {
  Text prog_id;
  if (registry.KeyExists(kUserChoiceLatestKey) && registry.OpenKey(kUserChoiceLatestKey)) {
    try {
      prog_id = registry.ReadString(kLatestProgIdValue);
    } catch (...) {
      // not text, or the read failed: the legacy key decides
    }
    registry.CloseKey();
  }
  return prog_id;
}

// Vista and later: the user's choice names a class whose open command is used.
bool ReadUserChoiceCommand(TRegistry& registry, Text* command) {
  registry.SetRootKey(platform::kCurrentUser);
  Text prog_id = ReadLatestProgId(registry);
  if (prog_id.empty()) {
    if (!registry.KeyExists(kUserChoiceKey) || !registry.OpenKey(kUserChoiceKey)) return false;
    prog_id = registry.ReadString(kProgIdValue);
    registry.CloseKey();
  }
  registry.SetRootKey(platform::kClassesRoot);
  const Text path = prog_id + kOpenCommandSuffix;
  if (!registry.KeyExists(path) || !registry.OpenKey(path)) return false;
  *command = registry.ReadString(kDefaultValue);
  return true;
}

// XP and earlier: the http class itself, and only a command naming an .exe.
bool ReadHttpClassCommand(TRegistry& registry, Text* command) {
  registry.SetRootKey(platform::kClassesRoot);
  if (!registry.KeyExists(kHttpOpenCommandKey) || !registry.OpenKey(kHttpOpenCommandKey)) return false;
  *command = registry.ReadString(kDefaultValue);
  return text::Contains(*command, u".exe");
}

}  // namespace

Command SplitCommand(text::View command) {
  // The program ends at the first quote that is not the opening one; with
  // none, the program is empty and the whole command is argument text.
  const std::size_t quote = command.find(u'"', 1);
  const text::Position split = quote == text::View::npos ? 0 : static_cast<text::Position>(quote) + 1;
  return Command{text::Left(command, split), text::From(command, split + 1)};
}

void ResolveDefaultBrowser() {
  try {
    TRegistry registry;
    BrowserCommand.Program.clear();

    platform::OsVersionInfo version{};
    version.dwOSVersionInfoSize = platform::kOsVersionInfoSize;
    if (!platform::GetVersionExW(&version)) return;

    Text command;
    const bool found = version.dwMajorVersion >= 6 ? ReadUserChoiceCommand(registry, &command)
                                                   : ReadHttpClassCommand(registry, &command);
    if (found) BrowserCommand = SplitCommand(command);
  } catch (...) {
    // Any failure means no browser was found; nothing is reported.
  }
}

}  // namespace browser
