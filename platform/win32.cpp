// The Windows side of the platform: each call forwarded to the real one.
// The only file that sees <windows.h>.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed through as WCHAR");
static_assert(sizeof(OSVERSIONINFOW) == kOsVersionInfoSize, "OSVERSIONINFOW");
static_assert(sizeof(PROCESSENTRY32W) == kProcessEntrySize, "PROCESSENTRY32W");
static_assert(sizeof(SHELLEXECUTEINFOW) == kShellExecuteInfoSize, "SHELLEXECUTEINFOW");
// These two are passed straight through, so their layouts must agree.
static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOW), "OsVersionInfo layout");
static_assert(offsetof(OsVersionInfo, dwMajorVersion) == offsetof(OSVERSIONINFOW, dwMajorVersion), "");
static_assert(offsetof(OsVersionInfo, szCSDVersion) == offsetof(OSVERSIONINFOW, szCSDVersion), "");
static_assert(sizeof(ProcessEntry) == sizeof(PROCESSENTRY32W), "ProcessEntry layout");
static_assert(offsetof(ProcessEntry, th32DefaultHeapID) == offsetof(PROCESSENTRY32W, th32DefaultHeapID), "");
static_assert(offsetof(ProcessEntry, dwFlags) == offsetof(PROCESSENTRY32W, dwFlags), "");
static_assert(offsetof(ProcessEntry, szExeFile) == offsetof(PROCESSENTRY32W, szExeFile), "");

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
HANDLE ToWin(Handle handle) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle)); }
Handle FromWin(HANDLE handle) { return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(handle)); }
HKEY ToWin(Key key) { return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(key)); }
HWND ToWin(Window window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }

void FromWin(const MSG& in, Msg* out) {
  out->hwnd = static_cast<Window>(reinterpret_cast<std::uintptr_t>(in.hwnd));
  out->message = in.message;
  out->wParam = in.wParam;
  out->lParam = in.lParam;
  out->time = in.time;
}

}  // namespace

std::int32_t RegOpenKeyExW(Key key, const char16_t* sub_key, std::uint32_t options, std::uint32_t sam,
                           Key* result) {
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExW(ToWin(key), W(sub_key), options, sam, &opened);
  if (status == ERROR_SUCCESS) *result = static_cast<Key>(reinterpret_cast<std::uintptr_t>(opened));
  return status;
}

std::int32_t RegQueryValueExW(Key key, const char16_t* value_name, std::uint32_t* reserved, std::uint32_t* type,
                              std::uint8_t* data, std::uint32_t* data_size) {
  static_assert(sizeof(DWORD) == sizeof(std::uint32_t), "");
  return ::RegQueryValueExW(ToWin(key), W(value_name), reinterpret_cast<DWORD*>(reserved),
                            reinterpret_cast<DWORD*>(type), data, reinterpret_cast<DWORD*>(data_size));
}

std::int32_t RegCloseKey(Key key) { return ::RegCloseKey(ToWin(key)); }

bool GetVersionExW(OsVersionInfo* info) { return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)) != FALSE; }

std::uint32_t GetFileAttributesW(const char16_t* path) { return ::GetFileAttributesW(W(path)); }

std::uint32_t GetLastError() { return ::GetLastError(); }

Handle FindFirstFileW(const char16_t* path, FindData* data) {
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW(W(path), &found);
  if (find != INVALID_HANDLE_VALUE) data->dwFileAttributes = found.dwFileAttributes;
  return FromWin(find);
}

bool FindClose(Handle find) { return ::FindClose(ToWin(find)) != FALSE; }

Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share, void* security,
                   std::uint32_t disposition, std::uint32_t flags, Handle template_file) {
  return FromWin(::CreateFileW(W(path), access, share, static_cast<SECURITY_ATTRIBUTES*>(security), disposition,
                               flags, ToWin(template_file)));
}

bool CloseHandle(Handle handle) { return ::CloseHandle(ToWin(handle)) != FALSE; }

Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t process_id) {
  return FromWin(::CreateToolhelp32Snapshot(flags, process_id));
}

bool Process32FirstW(Handle snapshot, ProcessEntry* entry) {
  return ::Process32FirstW(ToWin(snapshot), reinterpret_cast<PROCESSENTRY32W*>(entry)) != FALSE;
}

bool Process32NextW(Handle snapshot, ProcessEntry* entry) {
  return ::Process32NextW(ToWin(snapshot), reinterpret_cast<PROCESSENTRY32W*>(entry)) != FALSE;
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

bool PeekMessageW(Msg* msg, Window window, std::uint32_t filter_min, std::uint32_t filter_max,
                  std::uint32_t remove) {
  MSG real;
  if (!::PeekMessageW(&real, ToWin(window), filter_min, filter_max, remove)) return false;
  FromWin(real, msg);
  return true;
}

bool PeekMessageA(Msg* msg, Window window, std::uint32_t filter_min, std::uint32_t filter_max,
                  std::uint32_t remove) {
  MSG real;
  if (!::PeekMessageA(&real, ToWin(window), filter_min, filter_max, remove)) return false;
  FromWin(real, msg);
  return true;
}

bool IsWindowUnicode(Window window) { return ::IsWindowUnicode(ToWin(window)) != FALSE; }

}  // namespace platform
