#include "watch/watch.h"

#include <algorithm>

#include "platform/unique_handle.h"

namespace watch {

using text::Text;
using text::View;

bool QuitRequested = false;

namespace {

// Opera and Opera GX register a small launcher.exe that starts the browser
// proper as opera.exe and exits at once; watching the stub would end the wait
// at the first look. Their installers write it in lower case and older ones
// capitalised it, so the case of the name is ignored.
constexpr char16_t kOperaLauncher[] = u"launcher.exe";
constexpr char16_t kOperaImage[] = u"opera.exe";

// Browsers run a handful of processes; more only costs a reallocation.
constexpr std::size_t kTypicalBrowserProcesses = 64;

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

bool IsOperaStub(View program) { return text::PosIgnoringAsciiCase(program, kOperaLauncher) != 0; }

Text DeriveWatchedName(View program) {
  if (IsOperaStub(program)) return Text(kOperaImage);
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

bool IsProcessRunning(View name, std::vector<std::uint32_t>* matching) {
  if (matching == nullptr)
    return AnyProcess([name](View image, std::uint32_t) { return ImageNameMatches(image, name); });
  matching->clear();
  AnyProcess([name, matching](View image, std::uint32_t process_id) {
    if (ImageNameMatches(image, name)) matching->push_back(process_id);
    return false;
  });
  return !matching->empty();
}

bool IsTaskbarWindow(platform::Window window) {
  using namespace platform;
  return IsWindowVisible(window) && GetWindow(window, kGwOwner) == kNoWindow &&
         (static_cast<std::uint32_t>(GetWindowLongW(window, kGwlExStyle)) & kWsExToolWindow) == 0;
}

void LaunchBrowser(View program, View arguments, std::int32_t show_state) {
  if (!ShellStart(program, arguments, show_state)) return;
  const Text watched_name = DeriveWatchedName(program);
  std::vector<std::uint32_t> browser_processes;
  browser_processes.reserve(kTypicalBrowserProcesses);
  bool window_seen = false;
  for (;;) {
    platform::Sleep(kPollPeriodMs);
    DrainMessages();
    if (!IsProcessRunning(watched_name, &browser_processes)) return;
    const WindowLook windows = AnyTaskbarWindow([&browser_processes](std::uint32_t process_id) {
      return std::find(browser_processes.begin(), browser_processes.end(), process_id) != browser_processes.end();
    });
    // Once the player has had a browser window, its last one closing ends the
    // wait, though the browser may keep processes in the background. Before
    // that, a browser slow to show its window is still waited for.
    if (windows == WindowLook::kOpen) window_seen = true;
    if (windows == WindowLook::kNone && window_seen) return;
    if (QuitRequested) return;
  }
}

}  // namespace watch
