// The doctor's registry, version and shell calls, and its console. Reads go
// to Windows and into the journal; the two shell calls only go into the
// journal, and the launch is answered as refused, so nothing is started
// and nothing waits. Sleep never sleeps.
#include <string>

#include "platform/console.h"
#include "platform/journal.h"
#include "platform/win32_types.h"

namespace platform {

using win32::W;

std::int32_t RegOpenKeyExW(Key key, const char16_t* sub_key, std::uint32_t options, std::uint32_t sam, Key* result) {
  const std::int32_t status = win32::OpenKey(key, sub_key, options, sam, result);
  journal::RecordKeyOpen(key, sub_key, sam, status, status == ERROR_SUCCESS ? *result : kNoKey);
  return status;
}

std::int32_t RegQueryValueExW(Key key, const char16_t* value_name, std::uint32_t* reserved, std::uint32_t* type,
                              std::uint8_t* data, std::uint32_t* data_size) {
  const std::int32_t status = win32::QueryValue(key, value_name, reserved, type, data, data_size);
  journal::RecordValueQuery(key, value_name, status, type, data, data_size);
  return status;
}

bool GetVersionExW(OsVersionInfo* info) {
  const bool ok = win32::GetVersion(info);
  journal::RecordVersion(ok, *info);
  return ok;
}

void Sleep(std::uint32_t) {}

bool ShellExecuteExW(ShellExecuteInfo* info) {
  journal::RecordShellCall(journal::Kind::Launch, info->lpFile, info->lpParameters);
  info->hInstApp = Instance{0};
  info->hProcess = kNoHandle;
  return false;
}

Instance ShellExecuteW(Window, const char16_t*, const char16_t* file, const char16_t* parameters, const char16_t*,
                       std::int32_t) {
  journal::RecordShellCall(journal::Kind::Open, file, parameters);
  return Instance{0};
}

namespace console {
namespace {

void Write(DWORD which, std::u16string_view text) {
  const HANDLE out = ::GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  // Lines end in CR LF, for Notepad on older Windows.
  std::u16string lines;
  for (char16_t c : text) {
    if (c == u'\n') lines += u'\r';
    lines += c;
  }
  DWORD mode = 0, written = 0;
  if (::GetConsoleMode(out, &mode)) {
    ::WriteConsoleW(out, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    return;
  }
  const int length = static_cast<int>(lines.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, W(lines.c_str()), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, W(lines.c_str()), length, utf8.data(), bytes, nullptr, nullptr);
  ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
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
}  // namespace platform
