// What the doctor needs besides its console to save its report where a
// player can find it: the clock, its own version, the folders, and one
// file written whole. Windows side in io_win32.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace doctor::report_io {

struct LocalTime {
  std::uint16_t year, month, day, hour, minute, second;
};
LocalTime Now();

// The file version of the program's own version resource ("1.2.3.4"), or
// empty when it has none.
std::u16string OwnVersion();

// The user's UI language (GetUserDefaultUILanguage; Windows 2000 and later).
std::uint16_t GetUserDefaultUILanguage();

// Folders without a trailing backslash; empty when Windows names none.
// OwnFolder is the one the program's own file is in.
std::u16string OwnFolder();
std::u16string CurrentFolder();
std::u16string DesktopFolder();
std::u16string TempFolder();
std::u16string FullPath(const std::u16string& path);

inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kMoveFileReplaceExisting = 0x1;

// Writes bytes as the whole of a new file at path. Leaves no partial file
// behind. Answers 0, or the Windows error code (kErrorFileExists when a file
// is there already).
std::uint32_t WriteWholeFile(const std::u16string& path, std::string_view bytes);

// MoveFileExW and DeleteFileW; on failure GetLastError says why.
bool MoveFileExW(const char16_t* existing, const char16_t* replacement, std::uint32_t flags);
bool DeleteFileW(const char16_t* path);

// What Windows says an error code means, in a few words.
std::u16string ErrorText(std::uint32_t error);

}  // namespace doctor::report_io
