// Starting the browser through the shell and staying resident while it runs:
// once a second, empty the thread's queue and look for the browser by image
// name (not by the handle the shell returns: many browsers hand the page to
// a process that is already running, or restart themselves).
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/unique_handle.h"
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
inline bool ImageNameMatches(text::View image_name, text::View name) {
  return text::PosIgnoringAsciiCase(image_name, name) != 0;
}

// Walks the process list, handing visit each image name until it answers
// true; answers whether one did. A snapshot that cannot be taken is an empty
// list.
template <typename Visit>
bool AnyProcess(Visit visit) {
  platform::UniqueSnapshot snapshot(platform::CreateToolhelp32Snapshot(platform::kSnapProcess, 0));
  if (!snapshot) return false;
  platform::ProcessEntry entry{};
  entry.dwSize = platform::kProcessEntrySize;
  for (bool fetched = platform::Process32FirstW(snapshot.get(), &entry); fetched;
       fetched = platform::Process32NextW(snapshot.get(), &entry)) {
    // A name that fills the whole field has no terminator.
    const char16_t* image = entry.szExeFile;
    if (visit(text::View(image, std::find(image, image + platform::kMaxPath, u'\0') - image))) return true;
  }
  return false;
}

}  // namespace watch
