#include "browser/browser_command.h"

#include <memory>
#include <optional>

#include "browser/registry.h"
#include "platform/platform.h"

namespace browser {

using text::Text;
using text::View;

Command BrowserCommand;
Discovery LastDiscovery;

namespace {

constexpr char16_t kDefaultValue[] = u"";
// No command line is longer (CreateProcess takes 32767 characters).
constexpr std::uint32_t kMostShellChars = 32768;

// Opens key as the current one, after making sure it is there; the Windows error.
std::int32_t OpenChecked(TRegistry& registry, View key) {
  const std::int32_t found = registry.ProbeKey(key);
  return found == platform::kErrorSuccess ? registry.TryOpenKey(key) : found;
}

// A value of key as text (a record's class, a class's command): empty text
// when the key or the value is missing or unusable in any way.
Text ReadText(TRegistry& registry, View key, View value) {
  Text text;
  if (registry.KeyExists(key) && registry.OpenKey(key)) {
    TRegistry::ValueRead read = registry.Read(value);
    if (read.IsText()) text = std::move(read.text);
    registry.CloseKey();
  }
  return text;
}

// A class's open command as stored, or empty text.
Text StoredCommand(TRegistry& registry, View prog_id) {
  registry.SetRootKey(platform::kClassesRoot);
  return ReadText(registry, Text(prog_id) + kOpenCommandSuffix, kDefaultValue);
}

// What the shell runs for http links' open verb: the length first, then the
// text into a buffer of that length. Empty text where it cannot say.
Text AskShell(std::uint32_t what) {
  constexpr std::uint32_t kFlags = platform::kAssocfIsProtocol;
  std::uint32_t chars = 0;
  const std::int32_t sized = platform::AssocQueryStringW(kFlags, what, u"http", u"open", nullptr, &chars);
  // With no buffer the answer is documented as S_FALSE.
  if ((sized != platform::kSOk && sized != platform::kSFalse) || chars == 0 || chars > kMostShellChars) return Text();
  auto buffer = std::make_unique<char16_t[]>(chars);
  std::uint32_t got = chars;
  const std::int32_t read =
      platform::AssocQueryStringW(kFlags | platform::kAssocfNoTruncate, what, u"http", u"open", buffer.get(), &got);
  if (read != platform::kSOk || got == 0 || got > chars) return Text();
  const View answer(buffer.get(), got);  // no terminator is relied on
  return Text(answer.substr(0, answer.find(u'\0')));
}

// Which of two records naming different classes the shell honours, or
// kNone when it cannot say.
ChoiceRecord ShellPicks(TRegistry& registry, const Text& newer, const Text& legacy, ShellAnswer* shell) {
  shell->asked = true;
  shell->prog_id = AskShell(platform::kAssocStrProgId);
  shell->command = AskShell(platform::kAssocStrCommand);
  if (text::EqualsIgnoringAsciiCase(shell->prog_id, legacy)) return ChoiceRecord::kLegacyChoice;
  if (text::EqualsIgnoringAsciiCase(shell->prog_id, newer)) return ChoiceRecord::kNewerChoice;
  if (shell->command.empty()) return ChoiceRecord::kNone;
  const bool legacy_runs = text::EqualsIgnoringAsciiCase(StoredCommand(registry, legacy), shell->command);
  const bool newer_runs = text::EqualsIgnoringAsciiCase(StoredCommand(registry, newer), shell->command);
  if (legacy_runs == newer_runs) return ChoiceRecord::kNone;
  return legacy_runs ? ChoiceRecord::kLegacyChoice : ChoiceRecord::kNewerChoice;
}

// The choice's class, Vista and later. The newer record wins over the legacy
// one unless the shell honours the legacy one; a broken newer record must
// not hide the browser the legacy one still names. Answers false, with
// d->end set, where there is none.
bool ReadChoiceClass(TRegistry& registry, Discovery* d) {
  registry.SetRootKey(platform::kCurrentUser);
  d->newer_prog_id = ReadText(registry, kUserChoiceLatestKey, kLatestProgIdValue);
  if (!d->newer_prog_id.empty()) {
    d->legacy_prog_id = ReadText(registry, kUserChoiceKey, kProgIdValue);
    d->decided = ChoiceRecord::kNewerChoice;
    if (!d->legacy_prog_id.empty() && !text::EqualsIgnoringAsciiCase(d->legacy_prog_id, d->newer_prog_id)) {
      const ChoiceRecord shell = ShellPicks(registry, d->newer_prog_id, d->legacy_prog_id, &d->shell);
      d->shell.decided = shell != ChoiceRecord::kNone;
      if (shell == ChoiceRecord::kLegacyChoice) d->decided = shell;
    }
    d->prog_id = d->decided == ChoiceRecord::kNewerChoice ? d->newer_prog_id : d->legacy_prog_id;
    return true;
  }
  const std::int32_t opened = OpenChecked(registry, kUserChoiceKey);
  if (opened != platform::kErrorSuccess) {
    d->key_error = static_cast<std::uint32_t>(opened);
    d->end = d->key_error == platform::kErrorFileNotFound ? DiscoveryEnd::kNoChoice : DiscoveryEnd::kChoiceUnreadable;
    return false;
  }
  d->value_read = registry.Read(kProgIdValue);
  registry.CloseKey();
  // Missing or empty reads as an empty class, which names the classes' root.
  if (d->value_read.too_large || (d->value_read.with_buffer && !d->value_read.IsText())) {
    d->end = DiscoveryEnd::kChoiceUnreadable;
    return false;
  }
  d->prog_id = d->value_read.text;
  d->legacy_prog_id = d->prog_id;
  d->decided = ChoiceRecord::kLegacyChoice;
  return true;
}

// Walks the lookup from top to bottom; answers the open command to split,
// or nothing where it stopped first, with d->end saying where it ended.
std::optional<Text> Discover(TRegistry& registry, Discovery* d) {
  platform::OsVersionInfo version{};
  version.dwOSVersionInfoSize = platform::kOsVersionInfoSize;
  if (!platform::GetVersionExW(&version)) return std::nullopt;
  d->major = version.dwMajorVersion;
  d->minor = version.dwMinorVersion;
  d->build = version.dwBuildNumber;

  const bool vista_or_later = d->major >= 6;
  if (vista_or_later && !ReadChoiceClass(registry, d)) return std::nullopt;
  // Vista and later: the chosen class's open command (an empty class names
  // the classes' root); before, the http class's own.
  registry.SetRootKey(platform::kClassesRoot);
  const Text key = vista_or_later ? d->prog_id + kOpenCommandSuffix : Text(kHttpOpenCommandKey);
  const std::int32_t opened = OpenChecked(registry, key);
  if (opened != platform::kErrorSuccess) {
    d->key_error = static_cast<std::uint32_t>(opened);
    d->end = vista_or_later && d->prog_id.empty() ? DiscoveryEnd::kChoiceEmpty : DiscoveryEnd::kNoOpenCommand;
    return std::nullopt;
  }
  d->value_read = registry.Read(kDefaultValue);
  d->end = DiscoveryEnd::kCommandUnreadable;
  if (d->value_read.too_large || (d->value_read.with_buffer && !d->value_read.IsText())) return std::nullopt;
  // An absent or empty command is still split on Vista and later, and is no
  // browser: the arguments become empty too.
  if (d->value_read.text.empty()) return vista_or_later ? std::optional<Text>(Text()) : std::nullopt;
  d->command = d->value_read.text;
  d->command_read = true;
  if (!vista_or_later) {
    d->decided = ChoiceRecord::kHttpClass;
    if (!text::Contains(d->command, u".exe")) {
      d->end = DiscoveryEnd::kNoExe;
      return std::nullopt;
    }
  }
  d->end = DiscoveryEnd::kFound;
  return d->command;
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
  // A stop before the split leaves the arguments as they were.
  BrowserCommand.Program.clear();
  try {
    TRegistry registry;
    const std::optional<Text> command = Discover(registry, &LastDiscovery);
    if (command) BrowserCommand = SplitCommand(*command);
  } catch (...) {
    // Any failure means no browser was found; nothing is reported.
  }
}

}  // namespace browser
