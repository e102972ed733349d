// Start-up hardening of both programs, before main and so before any shell
// call. Players run the launcher from a Downloads folder, where a web page
// can drop files unasked; Windows looks there for a DLL that is not a known
// system DLL (beside the exe, and for older search modes in the current
// directory) before the system folder, and the shell loads more DLLs on
// demand while it starts the browser. Every call here is found at run time,
// so the exe still starts on Windows 2000 with the same imports, and none
// failing changes anything else the program does.
#include <windows.h>

#include <cstddef>

namespace {

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

__attribute__((constructor(102))) void HardenProcess() {
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;

  // Windows 8 and later, and Vista and 7 with the update that added it:
  // DLLs loaded by name come from the system folder only.
  const auto set_default_dll_directories = Find<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories");
  if (set_default_dll_directories == nullptr || !set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // XP SP1 and later: at least the current directory leaves the search.
    const auto set_dll_directory = Find<BOOL(WINAPI*)(LPCWSTR)>(kernel, "SetDllDirectoryW");
    if (set_dll_directory != nullptr) set_dll_directory(L"");
  }

  // Vista and later: a corrupted heap ends the process instead of running on.
  const auto heap_set_information =
      Find<BOOL(WINAPI*)(HANDLE, HEAP_INFORMATION_CLASS, PVOID, SIZE_T)>(kernel, "HeapSetInformation");
  if (heap_set_information != nullptr) heap_set_information(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);

  // XP SP3 and Vista SP1: DEP on, where the image's mark is not honoured for
  // a 32-bit program. Later 64-bit Windows refuse the call; DEP is on there.
  const auto set_process_dep_policy = Find<BOOL(WINAPI*)(DWORD)>(kernel, "SetProcessDEPPolicy");
  if (set_process_dep_policy != nullptr) set_process_dep_policy(PROCESS_DEP_ENABLE);
}

// The image's load configuration, as far as DependentLoadFlags: Windows 10
// 1607 and later resolve the image's own imports with those flags. 64 bytes
// is also the size Windows XP's loader insists on for a 32-bit image. GNU ld
// 2.40 fills no load-configuration directory, so cmake/load_config.py points
// the header at this record after linking.
struct LoadConfig32 {
  DWORD Size;
  DWORD TimeDateStamp;
  WORD MajorVersion, MinorVersion;
  DWORD GlobalFlagsClear, GlobalFlagsSet, CriticalSectionDefaultTimeout;
  DWORD DeCommitFreeBlockThreshold, DeCommitTotalFreeThreshold, LockPrefixTable, MaximumAllocationSize;
  DWORD VirtualMemoryThreshold, ProcessHeapFlags, ProcessAffinityMask;
  WORD CSDVersion;
  WORD DependentLoadFlags;
  DWORD EditList, SecurityCookie;
};
static_assert(sizeof(LoadConfig32) == 64, "the 32-bit load configuration up to its security cookie");
static_assert(offsetof(LoadConfig32, DependentLoadFlags) == 54, "");

constexpr LoadConfig32 SystemFolderImports() {
  LoadConfig32 config{};
  config.Size = sizeof config;
  config.DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32;
  return config;  // no edit list, no security cookie
}

}  // namespace

// The name the Windows toolchains give the record. Constant, so that it is in
// the file as written: the loader reads it before any code runs.
extern "C" constexpr LoadConfig32 _load_config_used = SystemFolderImports();
