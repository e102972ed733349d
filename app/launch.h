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

// What the file system says of a path, as the follow-up check asks it.
enum class FileKind {
  kFile,
  kAbsent,
  kFolderAbsent,
  kInvalidName,
  kFolder,
  kLinkToFile,  // or to a file that is locked
  kLinkToFolder,
  kLinkTargetGone,  // the link's target cannot be opened
  kLocked,          // these three: the attributes were refused, and the
  kAccessDenied,    // folder listing decided
  kUnreadable,
};
struct FileState {
  FileKind kind;
  bool listed_as_file = false;  // the folder listing shows it, and not as a folder
  std::uint32_t error = 0;      // kUnreadable: what the attribute query failed with
};
FileState ClassifyFile(const char16_t* path);
// Whether that is something to open: a file, a link to one, or one whose
// attributes were refused or unreadable but the folder listing shows as a file.
bool IsFile(const FileState& state);

// Whether path names a file, or a link that opens to one: IsFile of its
// ClassifyFile. A folder, a link to one and a link whose target is gone are not.
bool FileExists(const char16_t* path);
void OpenIfPresent(const char16_t* path);

// Returns the process's exit status.
int RunLauncher();

}  // namespace app
