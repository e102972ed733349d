// What the doctor needs besides its console to save its report where a
// player can find it: the clock, its own version, the folders, and one
// file written whole. Windows side in doctor_win32.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::report_io {

struct LocalTime {
  std::uint16_t year, month, day, hour, minute, second;
};
LocalTime Now();

// The file version of the program's own version resource ("1.2.3.4"), or
// empty when it has none.
std::u16string OwnVersion();

// Folders without a trailing backslash; empty when Windows names none.
std::u16string CurrentFolder();
std::u16string DesktopFolder();
std::u16string TempFolder();
std::u16string FullPath(const std::u16string& path);

inline constexpr std::uint32_t kErrorFileExists = 80;

// Writes bytes as the whole of the file at path: a new one, or with replace
// one that may exist. Leaves no partial file behind. Answers 0, or the
// Windows error code (kErrorFileExists when it exists and replace is false).
std::uint32_t WriteWholeFile(const std::u16string& path, std::string_view bytes, bool replace);

// What Windows says an error code means, in a few words.
std::u16string ErrorText(std::uint32_t error);

}  // namespace platform::report_io
