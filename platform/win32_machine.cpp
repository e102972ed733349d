// The doctor's questions about the machine and the browser's program, which
// the launcher never asks: its Windows layer for them, also linked by the
// conformance program. Every call is found at run time, so that the doctor
// still starts on Windows 2000 with the imports it has.
#include "platform/system_dll.h"
#include "platform/win32_types.h"

namespace platform {

namespace {

static_assert(sizeof(SYSTEM_INFO) == sizeof(SystemInfo), "SystemInfo layout");
static_assert(offsetof(SYSTEM_INFO, wProcessorArchitecture) == offsetof(SystemInfo, wProcessorArchitecture), "");
static_assert(offsetof(SYSTEM_INFO, wProcessorRevision) == offsetof(SystemInfo, wProcessorRevision), "");

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return module == nullptr ? nullptr
                           : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

HMODULE Kernel32() { return ::GetModuleHandleW(L"kernel32.dll"); }

// version.dll is no Known DLL, and a favourite of DLL planting.
HMODULE VersionDll() {
  static const HMODULE dll = LoadSystemDll(L"version.dll");
  return dll;
}

bool Absent() {
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return false;
}

}  // namespace

bool IsWow64Process2(Handle process, std::uint16_t* process_machine, std::uint16_t* native_machine) {
  static const auto call = Find<BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*)>(Kernel32(), "IsWow64Process2");
  if (call == nullptr) return Absent();
  USHORT process_is = 0, native_is = 0;
  if (!call(win32::ToWin(process), &process_is, &native_is)) return false;
  *process_machine = process_is;
  if (native_machine != nullptr) *native_machine = native_is;
  return true;
}

bool IsWow64Process(Handle process, bool* wow64) {
  static const auto call = Find<BOOL(WINAPI*)(HANDLE, BOOL*)>(Kernel32(), "IsWow64Process");
  if (call == nullptr) return Absent();
  BOOL is = FALSE;
  if (!call(win32::ToWin(process), &is)) return false;
  *wow64 = is != FALSE;
  return true;
}

bool GetNativeSystemInfo(SystemInfo* info) {
  static const auto call = Find<void(WINAPI*)(SYSTEM_INFO*)>(Kernel32(), "GetNativeSystemInfo");
  if (call == nullptr) return false;
  call(reinterpret_cast<SYSTEM_INFO*>(info));
  return true;
}

std::uint32_t GetFileVersionInfoSizeW(const char16_t* file, std::uint32_t* handle) {
  static const auto call = Find<DWORD(WINAPI*)(LPCWSTR, DWORD*)>(VersionDll(), "GetFileVersionInfoSizeW");
  if (call == nullptr) return Absent();
  return call(win32::W(file), reinterpret_cast<DWORD*>(handle));
}

bool GetFileVersionInfoW(const char16_t* file, std::uint32_t handle, std::uint32_t size, void* data) {
  static const auto call = Find<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, void*)>(VersionDll(), "GetFileVersionInfoW");
  if (call == nullptr) return Absent();
  return call(win32::W(file), handle, size, data) != FALSE;
}

bool VerQueryValueW(const void* block, const char16_t* sub_block, const void** buffer, std::uint32_t* length) {
  static const auto call = Find<BOOL(WINAPI*)(const void*, LPCWSTR, void**, UINT*)>(VersionDll(), "VerQueryValueW");
  if (call == nullptr) return Absent();
  void* found = nullptr;
  UINT found_length = 0;
  if (!call(block, win32::W(sub_block), &found, &found_length)) return false;
  *buffer = found;
  *length = found_length;
  return true;
}

}  // namespace platform
