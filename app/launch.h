// The whole run: find the browser, start it on the game's page, wait for it,
// then open the optional local items.
#pragma once

#include "text/text.h"

namespace app {

extern const text::View GameAddress;

// The optional items opened after the wait, in this order, from the current directory.
inline constexpr char16_t kPlayShortcut[] = u"play.url";
inline constexpr char16_t kGameProgram[] = u"fscommand\\wgame.exe";

// The browser's argument text with the address put in place of every "%1",
// or the address alone when there is no "%1".
text::Text PutAddress(text::View arguments, text::View address);

// Whether path names something that is not a directory.
bool FileExists(const char16_t* path);
void OpenIfPresent(const char16_t* path);

// Returns the process's exit status.
int RunLauncher();

}  // namespace app
