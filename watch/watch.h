// Starting the browser through the shell and staying resident while it runs:
// once a second, empty the thread's queue and look for the browser by image
// name (not by the handle the shell returns: many browsers hand the page to
// a process that is already running, or restart themselves).
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"
#include "text/text.h"

namespace watch {

// Set when a WM_QUIT is removed from the queue; never cleared.
extern bool QuitRequested;

inline constexpr std::uint32_t kPollPeriodMs = 1000;

void LaunchBrowser(text::View program, text::View arguments, std::int32_t show_state);

// The image name that stands for the browser started as program.
text::Text DeriveWatchedName(text::View program);

void DrainMessages();
bool PeekOneMessage(platform::Msg* msg);
// Whether some process's image name contains name, ASCII case ignored.
bool IsProcessRunning(text::View name);
// The two halves of that test, for one process-list entry.
inline text::View ImageNameOf(const platform::ProcessEntry& entry) {
  // A name that fills the whole field has no terminator.
  const char16_t* image = entry.szExeFile;
  return text::View(image, std::find(image, image + platform::kMaxPath, u'\0') - image);
}
inline bool ImageNameMatches(text::View image_name, text::View name) {
  return text::PosIgnoringAsciiCase(image_name, name) != 0;
}

}  // namespace watch
