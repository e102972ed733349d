// The installer engine's Windows layer: each call forwarded, the records
// converted; nothing of the launcher's.
#include <windows.h>

// These need <windows.h> first.
#include <shlwapi.h>

#include <cstring>

#include "installer/engine/system.h"

namespace installer::sys {

namespace {

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
HANDLE ToWin(Handle handle) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle)); }
Handle FromWin(HANDLE handle) { return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(handle)); }
HKEY ToWin(Key key) { return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(key)); }

std::uint64_t Join(DWORD high, DWORD low) { return static_cast<std::uint64_t>(high) << 32 | low; }

void Copy(const WIN32_FIND_DATAW& found, FindEntry* entry) {
  entry->attributes = found.dwFileAttributes;
  static_assert(sizeof entry->name == sizeof found.cFileName, "a file name of MAX_PATH characters");
  std::memcpy(entry->name, found.cFileName, sizeof entry->name);
}

}  // namespace

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed through as WCHAR");

Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition) {
  return FromWin(::CreateFileW(W(path), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WriteFile(Handle file, const void* data, std::uint32_t size, std::uint32_t* written) {
  DWORD done = 0;
  const bool ok = ::WriteFile(ToWin(file), data, size, &done, nullptr) != FALSE;
  *written = done;
  return ok;
}

bool ReadFile(Handle file, void* data, std::uint32_t size, std::uint32_t* read) {
  DWORD done = 0;
  const bool ok = ::ReadFile(ToWin(file), data, size, &done, nullptr) != FALSE;
  *read = done;
  return ok;
}

bool FlushFileBuffers(Handle file) { return ::FlushFileBuffers(ToWin(file)) != FALSE; }

bool CloseHandle(Handle handle) { return ::CloseHandle(ToWin(handle)) != FALSE; }

std::uint32_t GetFileAttributesW(const char16_t* path) { return ::GetFileAttributesW(W(path)); }

bool GetFileAttributesExW(const char16_t* path, FileInfo* info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(W(path), GetFileExInfoStandard, &data)) return false;
  *info = {data.dwFileAttributes, Join(data.nFileSizeHigh, data.nFileSizeLow),
           Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
  return true;
}

bool MoveFileExW(const char16_t* existing, const char16_t* replacement, std::uint32_t flags) {
  return ::MoveFileExW(W(existing), W(replacement), flags) != FALSE;
}

// Rights and attributes that cannot be merged do not stop it.
bool ReplaceFileW(const char16_t* replaced, const char16_t* replacement, const char16_t* backup) {
  return ::ReplaceFileW(W(replaced), W(replacement), W(backup),
                        REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr) != FALSE;
}

bool DeleteFileW(const char16_t* path) { return ::DeleteFileW(W(path)) != FALSE; }

bool CreateDirectoryW(const char16_t* path) { return ::CreateDirectoryW(W(path), nullptr) != FALSE; }

bool RemoveDirectoryW(const char16_t* path) { return ::RemoveDirectoryW(W(path)) != FALSE; }

Handle FindFirstFileW(const char16_t* pattern, FindEntry* entry) {
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW(W(pattern), &found);
  if (find != INVALID_HANDLE_VALUE) Copy(found, entry);
  return FromWin(find);
}

bool FindNextFileW(Handle find, FindEntry* entry) {
  WIN32_FIND_DATAW found;
  if (!::FindNextFileW(ToWin(find), &found)) return false;
  Copy(found, entry);
  return true;
}

bool FindClose(Handle find) { return ::FindClose(ToWin(find)) != FALSE; }

bool GetDiskFreeSpaceExW(const char16_t* folder, std::uint64_t* free_to_caller) {
  ULARGE_INTEGER free;
  if (!::GetDiskFreeSpaceExW(W(folder), &free, nullptr, nullptr)) return false;
  *free_to_caller = free.QuadPart;
  return true;
}

std::uint32_t GetLastError() { return ::GetLastError(); }

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::int32_t RegCreateKeyExW(Key root, const char16_t* sub_key, Key* result) {
  HKEY made = nullptr;
  const LONG status =
      ::RegCreateKeyExW(ToWin(root), W(sub_key), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr);
  if (status == ERROR_SUCCESS) *result = static_cast<Key>(reinterpret_cast<std::uintptr_t>(made));
  return status;
}

std::int32_t RegOpenKeyExW(Key root, const char16_t* sub_key, Key* result) {
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExW(ToWin(root), W(sub_key), 0, KEY_ALL_ACCESS, &opened);
  if (status == ERROR_SUCCESS) *result = static_cast<Key>(reinterpret_cast<std::uintptr_t>(opened));
  return status;
}

std::int32_t RegQueryValueExW(Key key, const char16_t* name, std::uint32_t* type, std::uint8_t* data,
                              std::uint32_t* size) {
  return ::RegQueryValueExW(ToWin(key), W(name), nullptr, reinterpret_cast<DWORD*>(type), data,
                            reinterpret_cast<DWORD*>(size));
}

std::int32_t RegSetValueExW(Key key, const char16_t* name, std::uint32_t type, const std::uint8_t* data,
                            std::uint32_t size) {
  return ::RegSetValueExW(ToWin(key), W(name), 0, type, data, size);
}

std::int32_t RegDeleteValueW(Key key, const char16_t* name) { return ::RegDeleteValueW(ToWin(key), W(name)); }

std::int32_t RegEnumValueW(Key key, std::uint32_t index, char16_t* name, std::uint32_t* name_chars) {
  return ::RegEnumValueW(ToWin(key), index, reinterpret_cast<wchar_t*>(name), reinterpret_cast<DWORD*>(name_chars),
                         nullptr, nullptr, nullptr, nullptr);
}

std::int32_t SHDeleteKeyW(Key root, const char16_t* sub_key) { return ::SHDeleteKeyW(ToWin(root), W(sub_key)); }

std::int32_t RegCloseKey(Key key) { return ::RegCloseKey(ToWin(key)); }

}  // namespace installer::sys
