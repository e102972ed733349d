#include "app/launch.h"

#include "app/build_config.h"
#include "browser/browser_command.h"
#include "platform/unique_handle.h"
#include "watch/watch.h"

namespace app {

using text::Text;
using text::View;

namespace {

constexpr char16_t kGameAddress[] = u"https://" LAUNCHER_GAME_HOST "/partner/iframe/10?cid=ru";
constexpr char16_t kAddressPlaceholder[] = u"%1";

}  // namespace

const View GameAddress = kGameAddress;

Text PutAddress(View arguments, View address) {
  if (!text::Contains(arguments, kAddressPlaceholder)) return Text(address);
  return text::ReplaceAll(arguments, kAddressPlaceholder, address);
}

bool FileExists(const char16_t* path) {
  using namespace platform;
  const std::uint32_t attributes = GetFileAttributesW(path);
  if (attributes == kInvalidFileAttributes) {
    const std::uint32_t error = GetLastError();
    if (error == kErrorFileNotFound || error == kErrorPathNotFound || error == kErrorInvalidName) return false;
    // Locked files (a page file, a file open without sharing) refuse the
    // attribute query; the directory listing still sees them.
    FindData found{};
    UniqueFind find(FindFirstFileW(path, &found));
    return find && (found.dwFileAttributes & kFileAttributeDirectory) == 0;
  }
  if ((attributes & kFileAttributeReparsePoint) == 0) return (attributes & kFileAttributeDirectory) == 0;
  if ((attributes & kFileAttributeDirectory) != 0) return false;
  // A file link: it exists if its target does. Opening follows the link.
  UniqueFile file(CreateFileW(path, kGenericRead, kFileShareRead, nullptr, kOpenExisting, 0, kNoHandle));
  return file || GetLastError() == kErrorSharingViolation;
}

void OpenIfPresent(const char16_t* path) {
  // Empty parameters and directory, not absent ones; the result is not looked at.
  if (FileExists(path)) platform::ShellExecuteW(platform::kNoWindow, u"open", path, u"", u"", platform::kShowNormal);
}

int RunLauncher() {
  browser::ResolveDefaultBrowser();
  browser::Command& command = browser::BrowserCommand;
  command.Arguments = PutAddress(command.Arguments, GameAddress);
  watch::LaunchBrowser(command.Program, command.Arguments, platform::kShowNormal);
  OpenIfPresent(kPlayShortcut);
  OpenIfPresent(kGameProgram);
  return 0;
}

}  // namespace app
