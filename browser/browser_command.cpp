#include "browser/browser_command.h"

#include "browser/registry.h"
#include "platform/platform.h"

namespace browser {

using text::Text;

Command BrowserCommand;
Discovery LastDiscovery;

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

bool Stop(DiscoveryEnd end) {
  LastDiscovery.end = end;
  return false;
}

bool OpenOrStop(TRegistry& registry, text::View path, DiscoveryEnd end) {
  if (registry.KeyExists(path) && registry.OpenKey(path)) return true;
  LastDiscovery.key_error = static_cast<std::uint32_t>(registry.LastOpenError());
  return Stop(end);
}

// The class's open command. One that raises, or reads as empty (absent,
// say), is recorded as unreadable; an empty one is still split.
Text ReadCommand(TRegistry& registry) {
  LastDiscovery.end = DiscoveryEnd::kCommandUnreadable;
  Text command = registry.ReadString(kDefaultValue);
  LastDiscovery.command = command;
  LastDiscovery.command_read = !command.empty();
  return command;
}

// Vista and later: the user's choice names a class whose open command is used.
bool ReadUserChoiceCommand(TRegistry& registry, Text* command) {
  registry.SetRootKey(platform::kCurrentUser);
  Text prog_id = ReadLatestProgId(registry);
  if (!prog_id.empty()) {
    LastDiscovery.decided = ChoiceRecord::kNewerChoice;
  } else {
    if (!registry.KeyExists(kUserChoiceKey) || !registry.OpenKey(kUserChoiceKey)) {
      LastDiscovery.key_error = static_cast<std::uint32_t>(registry.LastOpenError());
      return Stop(LastDiscovery.key_error == platform::kErrorFileNotFound ? DiscoveryEnd::kNoChoice
                                                                          : DiscoveryEnd::kChoiceUnreadable);
    }
    LastDiscovery.end = DiscoveryEnd::kChoiceUnreadable;  // should the read raise
    prog_id = registry.ReadString(kProgIdValue);
    LastDiscovery.decided = ChoiceRecord::kLegacyChoice;
    registry.CloseKey();
  }
  LastDiscovery.prog_id = prog_id;
  registry.SetRootKey(platform::kClassesRoot);
  // An empty choice names the classes' root itself.
  const DiscoveryEnd no_command = prog_id.empty() ? DiscoveryEnd::kChoiceEmpty : DiscoveryEnd::kNoOpenCommand;
  if (!OpenOrStop(registry, prog_id + kOpenCommandSuffix, no_command)) return false;
  *command = ReadCommand(registry);
  return true;
}

// XP and earlier: the http class itself, and only a command naming an .exe.
bool ReadHttpClassCommand(TRegistry& registry, Text* command) {
  registry.SetRootKey(platform::kClassesRoot);
  if (!OpenOrStop(registry, kHttpOpenCommandKey, DiscoveryEnd::kNoOpenCommand)) return false;
  *command = ReadCommand(registry);
  if (command->empty()) return false;
  LastDiscovery.decided = ChoiceRecord::kHttpClass;
  return text::Contains(*command, u".exe") || Stop(DiscoveryEnd::kNoExe);
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
  LastDiscovery = Discovery{};
  // Made before the guard, so that what its last read saw outlives a read
  // that raised.
  TRegistry registry;
  try {
    BrowserCommand.Program.clear();

    platform::OsVersionInfo version{};
    version.dwOSVersionInfoSize = platform::kOsVersionInfoSize;
    if (!platform::GetVersionExW(&version)) return;
    LastDiscovery.major = version.dwMajorVersion;
    LastDiscovery.minor = version.dwMinorVersion;
    LastDiscovery.build = version.dwBuildNumber;

    Text command;
    const bool found = version.dwMajorVersion >= 6 ? ReadUserChoiceCommand(registry, &command)
                                                   : ReadHttpClassCommand(registry, &command);
    if (!found) return;
    BrowserCommand = SplitCommand(command);
    if (!command.empty()) LastDiscovery.end = DiscoveryEnd::kFound;
  } catch (...) {
    // Any failure means no browser was found; nothing is reported.
  }
  LastDiscovery.value_read = registry.LastRead();
}

}  // namespace browser
