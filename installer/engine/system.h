// The installer engine's only door to Windows: one function per Win32 call
// it makes, with the same arguments and results in portable types, and only
// the constants it needs. Two sides: system_win32.cpp, its own Windows layer
// (nothing of the launcher's), and the simulated Windows of the host tests.
#pragma once

#include <cstdint>

namespace installer::sys {

enum class Handle : std::uintptr_t {};
enum class Key : std::uintptr_t {};
inline constexpr Handle kInvalidHandle{~std::uintptr_t{0}};
inline constexpr Key kNoKey{0};
inline constexpr Key kCurrentUser{static_cast<std::uintptr_t>(std::intptr_t{INT32_MIN} + 1)};

// Error codes.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorLockViolation = 33;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorDirNotEmpty = 145;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorUnableToRemoveReplaced = 1175;
inline constexpr std::uint32_t kErrorUnableToMoveReplacement = 1176;
inline constexpr std::uint32_t kErrorUnableToMoveReplacement2 = 1177;

// Files.
inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kFileShareRead = 0x1;
inline constexpr std::uint32_t kCreateAlways = 2;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kOpenAlways = 4;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr std::uint32_t kMoveFileReplaceExisting = 0x1;
inline constexpr std::uint32_t kMoveFileWriteThrough = 0x8;

// The registry.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

// GetFileAttributesExW's record, as far as it is looked at.
struct FileInfo {
  std::uint32_t attributes;
  std::uint64_t size;
  std::uint64_t last_write;  // a FILETIME, in 100 ns from 1601
};

// Only the name and the attributes of an entry are looked at.
struct FindEntry {
  std::uint32_t attributes;
  char16_t name[260];
};

// kernel32
Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition);
bool WriteFile(Handle file, const void* data, std::uint32_t size, std::uint32_t* written);
bool ReadFile(Handle file, void* data, std::uint32_t size, std::uint32_t* read);
bool FlushFileBuffers(Handle file);
bool CloseHandle(Handle handle);
std::uint32_t GetFileAttributesW(const char16_t* path);
bool GetFileAttributesExW(const char16_t* path, FileInfo* info);
bool MoveFileExW(const char16_t* existing, const char16_t* replacement, std::uint32_t flags);
bool ReplaceFileW(const char16_t* replaced, const char16_t* replacement, const char16_t* backup);
bool DeleteFileW(const char16_t* path);
bool CreateDirectoryW(const char16_t* path);
bool RemoveDirectoryW(const char16_t* path);
Handle FindFirstFileW(const char16_t* pattern, FindEntry* entry);
bool FindNextFileW(Handle find, FindEntry* entry);
bool FindClose(Handle find);
bool GetDiskFreeSpaceExW(const char16_t* folder, std::uint64_t* free_to_caller);
std::uint32_t GetLastError();
void Sleep(std::uint32_t milliseconds);

// advapi32 (and shlwapi's SHDeleteKeyW, which Windows 2000 has, where
// RegDeleteTreeW came with Vista): keys under HKEY_CURRENT_USER, opened or
// made with all access.
std::int32_t RegCreateKeyExW(Key root, const char16_t* sub_key, Key* result);
std::int32_t RegOpenKeyExW(Key root, const char16_t* sub_key, Key* result);
std::int32_t RegQueryValueExW(Key key, const char16_t* name, std::uint32_t* type, std::uint8_t* data,
                              std::uint32_t* size);
std::int32_t RegSetValueExW(Key key, const char16_t* name, std::uint32_t type, const std::uint8_t* data,
                            std::uint32_t size);
std::int32_t RegDeleteValueW(Key key, const char16_t* name);
std::int32_t RegEnumValueW(Key key, std::uint32_t index, char16_t* name, std::uint32_t* name_chars);
std::int32_t SHDeleteKeyW(Key root, const char16_t* sub_key);
std::int32_t RegCloseKey(Key key);

}  // namespace installer::sys
