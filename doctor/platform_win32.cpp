// The doctor's own Windows layer, beside platform/win32.cpp: its registry,
// version and shell calls. Registry reads and the shell's association
// answers go to Windows and into the journal; the shell's starting calls are answered as refused and make nothing, so
// nothing is started and nothing waits. Sleep never sleeps.
#include "doctor/journal.h"
#include "platform/win32_types.h"

namespace platform {

namespace journal = doctor::journal;

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

bool GetVersionExW(OsVersionInfo* info) { return win32::GetVersion(info); }

// It only reads, so it is asked as the launcher asks it.
std::int32_t AssocQueryStringW(std::uint32_t flags, std::uint32_t what, const char16_t* assoc, const char16_t* extra,
                               char16_t* out, std::uint32_t* out_chars) {
  const std::int32_t status = win32::AssocQuery(flags, what, assoc, extra, out, out_chars);
  journal::RecordShellQuery(what, status, out, out_chars);
  return status;
}

void Sleep(std::uint32_t) {}

bool ShellExecuteExW(ShellExecuteInfo* info) {
  info->hInstApp = Instance{0};
  info->hProcess = kNoHandle;
  return false;
}

Instance ShellExecuteW(Window, const char16_t*, const char16_t*, const char16_t*, const char16_t*, std::int32_t) {
  return Instance{0};
}

}  // namespace platform
