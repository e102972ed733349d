// Starting the browser through the shell and staying resident while it runs:
// once a second, empty the thread's queue and look for the browser by image
// name (not by the handle the shell returns: many browsers hand the page to
// a process that is already running, or restart themselves), and for its
// windows (many browsers keep processes running after their last window
// closes).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/unique_handle.h"
#include "text/text.h"

namespace watch {

// Set when a WM_QUIT is removed from the queue; never cleared.
extern bool QuitRequested;

inline constexpr std::uint32_t kPollPeriodMs = 1000;

void LaunchBrowser(text::View program, text::View arguments, std::int32_t show_state);

// The image name that stands for the browser started as program.
text::Text DeriveWatchedName(text::View program);
// Whether program is Opera's stub, which hands over to opera.exe and exits.
bool IsOperaStub(text::View program);

void DrainMessages();
bool PeekOneMessage(platform::Msg* msg);
// Whether some process's image name contains name, ASCII case ignored. Given
// matching, walks the whole list and puts there the ids of all that do.
bool IsProcessRunning(text::View name, std::vector<std::uint32_t>* matching = nullptr);
inline bool ImageNameMatches(text::View image_name, text::View name) {
  return text::PosIgnoringAsciiCase(image_name, name) != 0;
}

// Walks the process list, handing visit each image name and process id until
// it answers true; answers whether one did. A snapshot that cannot be taken is
// an empty list.
template <typename Visit>
bool AnyProcess(Visit visit) {
  platform::UniqueHandle snapshot(platform::CreateToolhelp32Snapshot(platform::kSnapProcess, 0));
  if (!snapshot) return false;
  platform::ProcessEntry entry{};
  entry.dwSize = platform::kProcessEntrySize;
  for (bool fetched = platform::Process32FirstW(snapshot.get(), &entry); fetched;
       fetched = platform::Process32NextW(snapshot.get(), &entry)) {
    // A name that fills the whole field has no terminator.
    const char16_t* image = entry.szExeFile;
    const text::View name(image, std::find(image, image + platform::kMaxPath, u'\0') - image);
    if (visit(name, entry.th32ProcessID)) return true;
  }
  return false;
}

// Roughly, whether window has a taskbar button: a visible (a minimised window
// is visible), unowned top-level window that is not a tool window.
bool IsTaskbarWindow(platform::Window window);

// What one look at the top-level windows found.
enum class WindowLook { kNone, kOpen, kFailed };

// Walks the top-level windows, handing visit the process id of each one with
// a taskbar button until it answers true (kOpen). A walk that failed before
// that says nothing either way (kFailed).
template <typename Visit>
WindowLook AnyTaskbarWindow(Visit visit) {
  struct Search {
    Visit* visit;
    bool found;
  } search{&visit, false};
  const bool completed = platform::EnumWindows(
      [](platform::Window window, void* context) {
        auto& s = *static_cast<Search*>(context);
        std::uint32_t process_id = 0;
        if (IsTaskbarWindow(window) && platform::GetWindowThreadProcessId(window, &process_id) != 0)
          s.found = (*s.visit)(process_id);
        return !s.found;
      },
      &search);
  if (search.found) return WindowLook::kOpen;
  return completed ? WindowLook::kNone : WindowLook::kFailed;
}

}  // namespace watch
