// Finding the command with which the current user's default browser opens
// http links, split into the program and the text that follows it.
#pragma once

#include <cstdint>

#include "browser/registry.h"
#include "text/text.h"

namespace browser {

struct Command {
  text::Text Program;    // up to and including the first quote after the first character
  text::Text Arguments;  // everything after it
};

// Where discovery looks (the user-choice keys under HKCU, the classes under HKCR).
inline constexpr char16_t kUserChoiceKey[] =
    u"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
inline constexpr char16_t kProgIdValue[] = u"Progid";
// Windows 11 24H2 and later record a choice made in Settings here, and leave
// the legacy key above naming the browser the user had before.
inline constexpr char16_t kUserChoiceLatestKey[] =
    u"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoiceLatest\\ProgId";
inline constexpr char16_t kLatestProgIdValue[] = u"ProgId";
inline constexpr char16_t kOpenCommandSuffix[] = u"\\shell\\open\\command";
inline constexpr char16_t kHttpOpenCommandKey[] = u"http\\shell\\open\\command";

// Process-wide: filled by ResolveDefaultBrowser, rewritten by the launch sequence.
extern Command BrowserCommand;

// Which record named the browser.
enum class ChoiceRecord { kNone, kNewerChoice, kLegacyChoice, kHttpClass };

// Where discovery ended: kFound when it split a command (whose Program may
// still be empty), otherwise the step it stopped at.
enum class DiscoveryEnd {
  kFound,
  kNoWindowsVersion,
  kNoChoice,           // no user choice is recorded
  kChoiceUnreadable,   // the choice's key refuses opening, or its value is no text
  kChoiceEmpty,        // the choice names no class, and the classes' root has no command
  kNoOpenCommand,      // the class (or, before Vista, http) has no open command
  kCommandUnreadable,  // the open command is no text, or its read failed
  kNoExe,              // before Vista: the http class's command names no ".exe"
};

// What the shell answered for http links' open verb, when the two choices
// named different classes: each empty where it could not say.
struct ShellAnswer {
  bool asked = false;
  text::Text command, prog_id;
  bool decided = false;  // the answer named one record, which won
};

// What ResolveDefaultBrowser saw, for whoever explains a run; the launcher
// itself never looks at it.
struct Discovery {
  DiscoveryEnd end = DiscoveryEnd::kNoWindowsVersion;
  ChoiceRecord decided = ChoiceRecord::kNone;
  std::uint32_t major = 0, minor = 0, build = 0;  // the Windows version, when known
  std::uint32_t key_error = 0;                    // the failed key open it stopped at, if any
  text::Text prog_id;                             // as the choice named it
  // Vista and later: the class each record names, where it is usable.
  text::Text newer_prog_id, legacy_prog_id;
  ShellAnswer shell;
  bool command_read = false;
  text::Text command;  // as read, when command_read
  // What a value read saw: for kCommandUnreadable the open command's, for
  // kChoiceUnreadable with its key opened the legacy ProgId's.
  TRegistry::ValueRead value_read;
};
extern Discovery LastDiscovery;

// Never fails outwards: whatever goes wrong leaves Program empty.
void ResolveDefaultBrowser();

Command SplitCommand(text::View command);

}  // namespace browser
