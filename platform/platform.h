// The only door to Windows. One function per Win32 call the launcher and
// its doctor make, with the same arguments and results, in portable types,
// and only the constants the logic needs. Each binary links one set of layers:
//   launcher: win32.cpp + win32_launch.cpp
//   doctor:   win32.cpp + doctor/platform_win32.cpp (registry reads
//             journaled, shell calls refused) + win32_machine.cpp (its
//             own questions about the machine)
//   tests:    tests/sim/ (a simulated Windows), checked against these layers
//             by tests/conformance/
// The doctor's console and report files, and the start-up hardening
// (startup/), are not part of this door.
#pragma once

#include <cstdint>

namespace platform {

enum class Handle : std::uintptr_t {};
enum class Key : std::uintptr_t {};
enum class Window : std::uintptr_t {};
enum class Instance : std::uintptr_t {};

inline constexpr Handle kNoHandle{0};
inline constexpr Handle kInvalidHandle{~std::uintptr_t{0}};
inline constexpr Window kNoWindow{0};
inline constexpr Key kNoKey{0};
// Predefined roots are sign-extended 32-bit values, as <winreg.h> defines them.
inline constexpr Key kClassesRoot{static_cast<std::uintptr_t>(std::intptr_t{INT32_MIN})};
inline constexpr Key kCurrentUser{static_cast<std::uintptr_t>(std::intptr_t{INT32_MIN} + 1)};
inline constexpr Key kLocalMachine{static_cast<std::uintptr_t>(std::intptr_t{INT32_MIN} + 2)};
// GetCurrentProcess()'s answer: a pseudo handle, never closed.
inline constexpr Handle kCurrentProcess{~std::uintptr_t{0}};

// Error codes.
inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorProcNotFound = 127;

// Registry.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kStandardRightsRead = 0x00020000;
inline constexpr std::uint32_t kKeyRead = 0x00020019;
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;  // a 32-bit program reads the 64-bit view

// Files.
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint32_t kFileShareRead = 0x1;
inline constexpr std::uint32_t kOpenExisting = 3;

// Shell associations: what the shell runs for a protocol's verb.
inline constexpr std::int32_t kSOk = 0;
inline constexpr std::int32_t kSFalse = 1;
inline constexpr std::uint32_t kAssocfNoTruncate = 0x20;
inline constexpr std::uint32_t kAssocfIsProtocol = 0x1000;  // Windows 8 and later
inline constexpr std::uint32_t kAssocStrCommand = 1;
inline constexpr std::uint32_t kAssocStrProgId = 20;
// What AssocQueryStringW answers where the shell has none to call.
inline constexpr std::int32_t kHresultProcNotFound = static_cast<std::int32_t>(0x8007007F);

// Processes and windows.
inline constexpr std::uint32_t kSnapProcess = 0x2;
inline constexpr std::uint32_t kSeeMaskNoCloseProcess = 0x40;
inline constexpr std::int32_t kShowNormal = 1;
inline constexpr std::uint32_t kPmNoRemove = 0;
inline constexpr std::uint32_t kPmRemove = 1;
inline constexpr std::uint32_t kWmQuit = 0x0012;
inline constexpr std::uint32_t kWmMouseFirst = 0x0200;
inline constexpr std::uint32_t kWmMouseHWheel = 0x020E;
inline constexpr std::uint32_t kGwOwner = 4;
inline constexpr std::int32_t kGwlExStyle = -20;
inline constexpr std::uint32_t kWsExToolWindow = 0x80;

// Machines (IMAGE_FILE_MACHINE_*) and processor architectures (PROCESSOR_ARCHITECTURE_*).
inline constexpr std::uint16_t kMachineUnknown = 0;  // IsWow64Process2's answer for a process not under WOW64
inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineArmNt = 0x01C4;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kMachineArm64 = 0xAA64;
inline constexpr std::uint16_t kProcessorIntel = 0;
inline constexpr std::uint16_t kProcessorArm = 5;
inline constexpr std::uint16_t kProcessorAmd64 = 9;
inline constexpr std::uint16_t kProcessorArm64 = 12;

// Sizes of the Win32 records in the 32-bit build; win32.cpp checks them.
inline constexpr std::uint32_t kOsVersionInfoSize = 276;
inline constexpr std::uint32_t kProcessEntrySize = 556;
inline constexpr std::uint32_t kShellExecuteInfoSize = 60;
inline constexpr int kMaxPath = 260;

struct OsVersionInfo {
  std::uint32_t dwOSVersionInfoSize;
  std::uint32_t dwMajorVersion;
  std::uint32_t dwMinorVersion;
  std::uint32_t dwBuildNumber;
  std::uint32_t dwPlatformId;
  char16_t szCSDVersion[128];
};

// Only the architecture is ever looked at.
struct SystemInfo {
  std::uint16_t wProcessorArchitecture;
  std::uint16_t wReserved;
  std::uint32_t dwPageSize;
  std::uintptr_t lpMinimumApplicationAddress, lpMaximumApplicationAddress, dwActiveProcessorMask;
  std::uint32_t dwNumberOfProcessors, dwProcessorType, dwAllocationGranularity;
  std::uint16_t wProcessorLevel, wProcessorRevision;
};

// Only the attributes of the first entry are ever looked at.
struct FindData {
  std::uint32_t dwFileAttributes;
};

struct ProcessEntry {
  std::uint32_t dwSize;
  std::uint32_t cntUsage;
  std::uint32_t th32ProcessID;
  std::uintptr_t th32DefaultHeapID;
  std::uint32_t th32ModuleID;
  std::uint32_t cntThreads;
  std::uint32_t th32ParentProcessID;
  std::int32_t pcPriClassBase;
  std::uint32_t dwFlags;
  char16_t szExeFile[kMaxPath];
};

struct ShellExecuteInfo {
  std::uint32_t cbSize;
  std::uint32_t fMask;
  Window hwnd;
  const char16_t* lpVerb;
  const char16_t* lpFile;
  const char16_t* lpParameters;
  const char16_t* lpDirectory;
  std::int32_t nShow;
  Instance hInstApp;
  Handle hProcess;  // out, with kSeeMaskNoCloseProcess
};

struct Msg {
  Window hwnd;
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  std::uint32_t time;
};

// advapi32
std::int32_t RegOpenKeyExW(Key key, const char16_t* sub_key, std::uint32_t options, std::uint32_t sam, Key* result);
std::int32_t RegQueryValueExW(Key key, const char16_t* value_name, std::uint32_t* reserved, std::uint32_t* type,
                              std::uint8_t* data, std::uint32_t* data_size);
std::int32_t RegCloseKey(Key key);

// kernel32
bool GetVersionExW(OsVersionInfo* info);
std::uint32_t GetFileAttributesW(const char16_t* path);
std::uint32_t GetLastError();
Handle FindFirstFileW(const char16_t* path, FindData* data);
bool FindClose(Handle find);
Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share, void* security,
                   std::uint32_t disposition, std::uint32_t flags, Handle template_file);
bool CloseHandle(Handle handle);
Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t process_id);
bool Process32FirstW(Handle snapshot, ProcessEntry* entry);
bool Process32NextW(Handle snapshot, ProcessEntry* entry);
void Sleep(std::uint32_t milliseconds);

// shell32
bool ShellExecuteExW(ShellExecuteInfo* info);
Instance ShellExecuteW(Window owner, const char16_t* verb, const char16_t* file, const char16_t* parameters,
                       const char16_t* directory, std::int32_t show);
// shlwapi's, found when first called rather than imported; an HRESULT.
std::int32_t AssocQueryStringW(std::uint32_t flags, std::uint32_t what, const char16_t* assoc, const char16_t* extra,
                               char16_t* out, std::uint32_t* out_chars);

// The doctor's own questions about the machine and the browser's program,
// which the launcher never asks. Each is found when first called, so that
// the doctor imports nothing Windows 2000 lacks; where this Windows has no
// such call, it fails with GetLastError() kErrorProcNotFound (or, for
// GetNativeSystemInfo, which answers nothing, false).
// kernel32: Windows 10 1709, XP SP2 and XP.
bool IsWow64Process2(Handle process, std::uint16_t* process_machine, std::uint16_t* native_machine);
bool IsWow64Process(Handle process, bool* wow64);
bool GetNativeSystemInfo(SystemInfo* info);
// version.dll's, loaded from the system folder only. VerQueryValueW points
// into block; length counts characters for text, bytes otherwise.
std::uint32_t GetFileVersionInfoSizeW(const char16_t* file, std::uint32_t* handle);
bool GetFileVersionInfoW(const char16_t* file, std::uint32_t handle, std::uint32_t size, void* data);
bool VerQueryValueW(const void* block, const char16_t* sub_block, const void** buffer, std::uint32_t* length);

// user32
bool PeekMessageW(Msg* msg, Window window, std::uint32_t filter_min, std::uint32_t filter_max, std::uint32_t remove);
bool PeekMessageA(Msg* msg, Window window, std::uint32_t filter_min, std::uint32_t filter_max, std::uint32_t remove);
bool IsWindowUnicode(Window window);
// Calls callback for each top-level window until it answers false. Answers
// false when it failed, and also when callback stopped it, as Windows does.
using EnumWindowsProc = bool (*)(Window window, void* context);
bool EnumWindows(EnumWindowsProc callback, void* context);
std::uint32_t GetWindowThreadProcessId(Window window, std::uint32_t* process_id);
bool IsWindowVisible(Window window);
Window GetWindow(Window window, std::uint32_t command);
std::int32_t GetWindowLongW(Window window, std::int32_t index);

}  // namespace platform
