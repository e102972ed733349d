// Shared by the Windows layers: the portable types to and from the real
// ones, and proof that the records passed straight through agree with them.
#pragma once

#include <windows.h>

// These need <windows.h> first.
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cstddef>

#include "platform/platform.h"

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed through as WCHAR");
static_assert(sizeof(DWORD) == sizeof(std::uint32_t), "");
static_assert(sizeof(OSVERSIONINFOW) == kOsVersionInfoSize, "OSVERSIONINFOW");
static_assert(sizeof(PROCESSENTRY32W) == kProcessEntrySize, "PROCESSENTRY32W");
static_assert(sizeof(SHELLEXECUTEINFOW) == kShellExecuteInfoSize, "SHELLEXECUTEINFOW");
// These two are passed straight through, so their layouts must agree.
static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOW), "OsVersionInfo layout");
static_assert(offsetof(OsVersionInfo, dwMajorVersion) == offsetof(OSVERSIONINFOW, dwMajorVersion), "");
static_assert(offsetof(OsVersionInfo, dwBuildNumber) == offsetof(OSVERSIONINFOW, dwBuildNumber), "");
static_assert(offsetof(OsVersionInfo, szCSDVersion) == offsetof(OSVERSIONINFOW, szCSDVersion), "");
static_assert(sizeof(ProcessEntry) == sizeof(PROCESSENTRY32W), "ProcessEntry layout");
static_assert(offsetof(ProcessEntry, th32DefaultHeapID) == offsetof(PROCESSENTRY32W, th32DefaultHeapID), "");
static_assert(offsetof(ProcessEntry, dwFlags) == offsetof(PROCESSENTRY32W, dwFlags), "");
static_assert(offsetof(ProcessEntry, szExeFile) == offsetof(PROCESSENTRY32W, szExeFile), "");

inline const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline HANDLE ToWin(Handle handle) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle)); }
inline Handle FromWin(HANDLE handle) { return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(handle)); }
inline HKEY ToWin(Key key) { return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(key)); }
inline Key FromWin(HKEY key) { return static_cast<Key>(reinterpret_cast<std::uintptr_t>(key)); }
inline HWND ToWin(Window window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }
inline Window FromWin(HWND window) { return static_cast<Window>(reinterpret_cast<std::uintptr_t>(window)); }

// The registry and version calls, which each program's layer forwards (the
// doctor's also writes them to its journal).
inline std::int32_t OpenKey(Key key, const char16_t* sub_key, std::uint32_t options, std::uint32_t sam, Key* result) {
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExW(ToWin(key), W(sub_key), options, sam, &opened);
  if (status == ERROR_SUCCESS) *result = FromWin(opened);
  return status;
}
inline std::int32_t QueryValue(Key key, const char16_t* value_name, std::uint32_t* reserved, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t* data_size) {
  return ::RegQueryValueExW(ToWin(key), W(value_name), reinterpret_cast<DWORD*>(reserved),
                            reinterpret_cast<DWORD*>(type), data, reinterpret_cast<DWORD*>(data_size));
}
inline bool GetVersion(OsVersionInfo* info) {
  return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)) != FALSE;
}

static_assert(ASSOCF_NOTRUNCATE == kAssocfNoTruncate && ASSOCSTR_COMMAND == kAssocStrCommand, "");
#if NTDDI_VERSION >= NTDDI_WIN10
static_assert(ASSOCF_IS_PROTOCOL == kAssocfIsProtocol && ASSOCSTR_PROGID == kAssocStrProgId, "");
#endif
static_assert(LOAD_LIBRARY_SEARCH_SYSTEM32 == 0x800, "");

// shlwapi's AssocQueryStringW, looked up when called so that the import
// table stays the five system DLLs, and loaded from the system folder only.
inline std::int32_t AssocQuery(std::uint32_t flags, std::uint32_t what, const char16_t* assoc, const char16_t* extra,
                               char16_t* out, std::uint32_t* out_chars) {
  using Function = HRESULT(WINAPI*)(DWORD, DWORD, LPCWSTR, LPCWSTR, LPWSTR, DWORD*);
  HMODULE shlwapi = ::GetModuleHandleW(L"shlwapi.dll");
  if (shlwapi == nullptr) shlwapi = ::LoadLibraryExW(L"shlwapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const FARPROC found = shlwapi == nullptr ? nullptr : ::GetProcAddress(shlwapi, "AssocQueryStringW");
  if (found == nullptr) return kHresultProcNotFound;
  const auto function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  return function(flags, what, W(assoc), W(extra), reinterpret_cast<wchar_t*>(out),
                  reinterpret_cast<DWORD*>(out_chars));
}

}  // namespace platform::win32
