// The doctor's console and its one file, on Windows.
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "doctor/console.h"
#include "doctor/report_io.h"
#include "platform/win32_types.h"
#include "text/utf8.h"

namespace doctor {

using platform::win32::W;

namespace console {
namespace {

// What output redirected to a file or a pipe is read back with. Whatever
// shows it in the console again (more, type, a PowerShell capture) decodes it
// in the console's output code page, 866 for a Russian player; without a
// console there is no such reader, and it is UTF-8, as a saved report.
std::string Encoded(std::u16string_view text) {
  const UINT code_page = ::GetConsoleOutputCP();
  if (code_page == 0 || code_page == CP_UTF8) return text::Utf8WithCrLf(text);
  const std::u16string lines = text::ReplaceAll(text, u"\n", u"\r\n");
  const int n = ::WideCharToMultiByte(code_page, 0, W(lines.c_str()), static_cast<int>(lines.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(code_page, 0, W(lines.c_str()), static_cast<int>(lines.size()), &bytes[0], n, nullptr,
                          nullptr);
  return bytes;
}

void Write(DWORD which, std::u16string_view text) {
  const HANDLE out = ::GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0, written = 0;
  if (::GetConsoleMode(out, &mode)) {
    ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = Encoded(text);
  ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void WriteOut(std::u16string_view text) { Write(STD_OUTPUT_HANDLE, text); }
void WriteError(std::u16string_view text) { Write(STD_ERROR_HANDLE, text); }

bool AloneOnConsole() {
  // Windows XP and later; Windows 2000 has no such call, and no prompt then.
  using ListFn = DWORD(WINAPI*)(LPDWORD, DWORD);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto list =
      kernel ? reinterpret_cast<ListFn>(reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "GetConsoleProcessList")))
             : nullptr;
  DWORD processes[2];
  return list != nullptr && list(processes, 2) == 1;
}

void WaitForEnter() {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  wchar_t line[64];
  DWORD read = 0;
  // Line input returns on Enter; a closed input returns at once.
  ::ReadConsoleW(in, line, 64, &read, nullptr);
}

}  // namespace console

namespace report_io {
namespace {

std::u16string Text(const wchar_t* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }

std::u16string WithoutTrailingBackslash(std::u16string path) {
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

}  // namespace

LocalTime Now() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::u16string OwnVersion() {
  const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));  // RT_VERSION
  const HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
  const auto* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
  const DWORD size = found ? ::SizeofResource(nullptr, found) : 0;
  // The fixed part follows the block's header and key, DWORD-aligned; find it by its signature.
  for (DWORD at = 0; data != nullptr && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, data + at, sizeof fixed);
    if (fixed.dwSignature != 0xFEEF04BD) continue;
    const DWORD parts[] = {HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS), HIWORD(fixed.dwFileVersionLS),
                           LOWORD(fixed.dwFileVersionLS)};
    std::u16string version;
    for (DWORD part : parts) {
      const std::string digits = std::to_string(part);
      version += (version.empty() ? u"" : u".") + std::u16string(digits.begin(), digits.end());
    }
    return version;
  }
  return u"";
}

std::uint16_t GetUserDefaultUILanguage() { return ::GetUserDefaultUILanguage(); }

std::u16string OwnFolder() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return u"";  // failed, or cut short
  const std::u16string file = Text(path);
  const std::size_t backslash = file.rfind(u'\\');
  return backslash == std::u16string::npos ? u"" : file.substr(0, backslash);
}

std::u16string CurrentFolder() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = ::GetCurrentDirectoryW(MAX_PATH * 4, path);
  return n > 0 && n < MAX_PATH * 4 ? WithoutTrailingBackslash(Text(path)) : u"";
}

std::u16string DesktopFolder() {
  wchar_t path[MAX_PATH];
  // Follows a Desktop moved elsewhere (into OneDrive, say); Windows 2000 and later.
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path))) return u"";
  return WithoutTrailingBackslash(Text(path));
}

std::u16string TempFolder() {
  wchar_t path[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, path);
  return n > 0 && n <= MAX_PATH ? WithoutTrailingBackslash(Text(path)) : u"";
}

std::u16string FullPath(const std::u16string& path) {
  wchar_t full[MAX_PATH * 4];
  const DWORD n = ::GetFullPathNameW(W(path.c_str()), MAX_PATH * 4, full, nullptr);
  return n > 0 && n < MAX_PATH * 4 ? Text(full) : path;
}

std::uint32_t WriteWholeFile(const std::u16string& path, std::string_view bytes) {
  const HANDLE file =
      ::CreateFileW(W(path.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
  DWORD error = 0;
  for (std::size_t done = 0; done < bytes.size() && error == 0;) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    if (::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written > 0)
      done += written;
    else
      error = written == 0 && ::GetLastError() == 0 ? ERROR_WRITE_FAULT : ::GetLastError();
  }
  if (!::CloseHandle(file) && error == 0) error = ::GetLastError();
  if (error != 0) ::DeleteFileW(W(path.c_str()));  // no half-written report
  return error;
}

bool MoveFileExW(const char16_t* existing, const char16_t* replacement, std::uint32_t flags) {
  return ::MoveFileExW(W(existing), W(replacement), flags);
}

bool DeleteFileW(const char16_t* path) { return ::DeleteFileW(W(path)); }

std::u16string ErrorText(std::uint32_t error) {
  wchar_t message[512];
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, message,
                             512, nullptr);
  while (n > 0 &&
         (message[n - 1] == L'\r' || message[n - 1] == L'\n' || message[n - 1] == L'.' || message[n - 1] == L' '))
    --n;
  const std::string code = std::to_string(error);
  const std::u16string number = u"error " + std::u16string(code.begin(), code.end());
  if (n == 0) return number;
  message[n] = 0;
  return Text(message) + u" (" + number + u")";
}

}  // namespace report_io
}  // namespace doctor
