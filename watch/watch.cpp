#include "watch/watch.h"

#include <algorithm>

#include "platform/unique_handle.h"

namespace watch {

using text::Text;
using text::View;

bool QuitRequested = false;

namespace {

// Opera registers a small Launcher.exe that starts the browser proper as
// opera.exe and exits at once; watching the launcher would end the wait.
constexpr char16_t kOperaLauncher[] = u"Launcher.exe";
constexpr char16_t kOperaImage[] = u"opera.exe";

// Starts program through the shell; answers whether the shell accepted it.
bool ShellStart(View program, View arguments, std::int32_t show_state) {
  const Text file(program);
  const Text parameters(arguments);
  platform::ShellExecuteInfo info{};
  info.cbSize = platform::kShellExecuteInfoSize;
  info.fMask = platform::kSeeMaskNoCloseProcess;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = show_state;
  const bool started = platform::ShellExecuteExW(&info);
  // The browser is watched by image name, so its process handle is closed here.
  platform::UniqueProcess process(started ? info.hProcess : platform::kNoHandle);
  return started;
}

}  // namespace

Text DeriveWatchedName(View program) {
  if (text::Contains(program, kOperaLauncher)) return Text(kOperaImage);
  // Walk back from the character before the closing quote to a backslash;
  // with none, stop after the opening quote, if there is one.
  const text::Position last = static_cast<text::Position>(program.size()) - 1;
  text::Position backslash = last;
  while (backslash >= 1 && program[static_cast<std::size_t>(backslash - 1)] != u'\\') --backslash;
  if (backslash < 1) backslash = (!program.empty() && program.front() == u'"') ? 1 : 0;
  return text::Between(program, backslash + 1, last);
}

bool PeekOneMessage(platform::Msg* msg) {
  using namespace platform;
  // Mouse messages are taken ahead of the rest of the queue.
  if (!PeekMessageW(msg, kNoWindow, kWmMouseFirst, kWmMouseHWheel, kPmRemove)) {
    if (!PeekMessageW(msg, kNoWindow, 0, 0, kPmNoRemove)) return false;
    // A message for an ANSI window must be removed as ANSI, or its text
    // parameters get converted the wrong way.
    const bool unicode = msg->hwnd == kNoWindow || IsWindowUnicode(msg->hwnd);
    const bool removed =
        unicode ? PeekMessageW(msg, kNoWindow, 0, 0, kPmRemove) : PeekMessageA(msg, kNoWindow, 0, 0, kPmRemove);
    if (!removed) return false;
  }
  if (msg->message == kWmQuit) QuitRequested = true;
  return true;
}

void DrainMessages() {
  platform::Msg msg{};
  while (PeekOneMessage(&msg)) {
  }
}

bool IsProcessRunning(View name) {
  return AnyProcess([name](View image) { return ImageNameMatches(image, name); });
}

void LaunchBrowser(View program, View arguments, std::int32_t show_state) {
  if (!ShellStart(program, arguments, show_state)) return;
  const Text watched_name = DeriveWatchedName(program);
  do {
    platform::Sleep(kPollPeriodMs);
    DrainMessages();
  } while (IsProcessRunning(watched_name) && !QuitRequested);
}

}  // namespace watch
