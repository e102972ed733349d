// Finding the command with which the current user's default browser opens
// http links, split into the program and the text that follows it.
#pragma once

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

// Never fails outwards: whatever goes wrong leaves Program empty.
void ResolveDefaultBrowser();

Command SplitCommand(text::View command);

}  // namespace browser
