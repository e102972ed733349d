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

FileState ClassifyFile(const char16_t* path) {
  using namespace platform;
  const std::uint32_t attributes = GetFileAttributesW(path);
  if (attributes == kInvalidFileAttributes) {
    const std::uint32_t error = GetLastError();
    if (error == kErrorFileNotFound) return {FileKind::kAbsent};
    if (error == kErrorPathNotFound) return {FileKind::kFolderAbsent};
    if (error == kErrorInvalidName) return {FileKind::kInvalidName};
    // Locked files (a page file, a file open without sharing) refuse the
    // attribute query; the directory listing still sees them.
    FindData found{};
    const bool listed =
        UniqueFind(FindFirstFileW(path, &found)) && (found.dwFileAttributes & kFileAttributeDirectory) == 0;
    if (error == kErrorSharingViolation) return {FileKind::kLocked, listed};
    if (error == kErrorAccessDenied) return {FileKind::kAccessDenied, listed};
    return {FileKind::kUnreadable, listed, error};
  }
  const bool directory = (attributes & kFileAttributeDirectory) != 0;
  if ((attributes & kFileAttributeReparsePoint) == 0) return {directory ? FileKind::kFolder : FileKind::kFile};
  if (directory) return {FileKind::kLinkToFolder};
  // A file link: it exists if its target does. Opening follows the link.
  const bool opened = static_cast<bool>(
      UniqueHandle(CreateFileW(path, kGenericRead, kFileShareRead, nullptr, kOpenExisting, 0, kNoHandle)));
  return {opened || GetLastError() == kErrorSharingViolation ? FileKind::kLinkToFile : FileKind::kLinkTargetGone};
}

bool IsFile(const FileState& state) {
  switch (state.kind) {
    case FileKind::kFile:
    case FileKind::kLinkToFile:
      return true;
    case FileKind::kLocked:
    case FileKind::kAccessDenied:
    case FileKind::kUnreadable:
      return state.listed_as_file;
    case FileKind::kAbsent:
    case FileKind::kFolderAbsent:
    case FileKind::kInvalidName:
    case FileKind::kFolder:
    case FileKind::kLinkToFolder:
    case FileKind::kLinkTargetGone:
      return false;
  }
  return false;
}

bool FileExists(const char16_t* path) { return IsFile(ClassifyFile(path)); }

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
