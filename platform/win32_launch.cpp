// The launcher's registry, version and shell calls: forwarded to the real
// ones, AssocQueryStringW found at run time. (The doctor links doctor/platform_win32.cpp instead, which records
// the shell calls and refuses them, so they start nothing.)
#include <cstring>

#include "platform/win32_types.h"

namespace platform {

using win32::FromWin;
using win32::ToWin;
using win32::W;

std::int32_t RegOpenKeyExW(Key key, const char16_t* sub_key, std::uint32_t options, std::uint32_t sam, Key* result) {
  return win32::OpenKey(key, sub_key, options, sam, result);
}

std::int32_t RegQueryValueExW(Key key, const char16_t* value_name, std::uint32_t* reserved, std::uint32_t* type,
                              std::uint8_t* data, std::uint32_t* data_size) {
  return win32::QueryValue(key, value_name, reserved, type, data, data_size);
}

bool GetVersionExW(OsVersionInfo* info) { return win32::GetVersion(info); }

std::int32_t AssocQueryStringW(std::uint32_t flags, std::uint32_t what, const char16_t* assoc, const char16_t* extra,
                               char16_t* out, std::uint32_t* out_chars) {
  return win32::AssocQuery(flags, what, assoc, extra, out, out_chars);
}

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

bool ShellExecuteExW(ShellExecuteInfo* info) {
  SHELLEXECUTEINFOW real;
  std::memset(&real, 0, sizeof real);
  real.cbSize = info->cbSize;
  real.fMask = info->fMask;
  real.hwnd = ToWin(info->hwnd);
  real.lpVerb = W(info->lpVerb);
  real.lpFile = W(info->lpFile);
  real.lpParameters = W(info->lpParameters);
  real.lpDirectory = W(info->lpDirectory);
  real.nShow = info->nShow;
  const bool started = ::ShellExecuteExW(&real) != FALSE;
  info->hInstApp = static_cast<Instance>(reinterpret_cast<std::uintptr_t>(real.hInstApp));
  info->hProcess = FromWin(real.hProcess);
  return started;
}

Instance ShellExecuteW(Window owner, const char16_t* verb, const char16_t* file, const char16_t* parameters,
                       const char16_t* directory, std::int32_t show) {
  return static_cast<Instance>(reinterpret_cast<std::uintptr_t>(
      ::ShellExecuteW(ToWin(owner), W(verb), W(file), W(parameters), W(directory), show)));
}

}  // namespace platform
