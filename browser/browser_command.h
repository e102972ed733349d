// Finding the command with which the current user's default browser opens
// http links, split into the program and the text that follows it.
#pragma once

#include "text/text.h"

namespace browser {

struct Command {
  text::Text Program;    // up to and including the first quote after the first character
  text::Text Arguments;  // everything after it
};

// Process-wide: filled by ResolveDefaultBrowser, rewritten by the launch sequence.
extern Command BrowserCommand;

// Never fails outwards: whatever goes wrong leaves Program empty.
void ResolveDefaultBrowser();

Command SplitCommand(text::View command);

}  // namespace browser
