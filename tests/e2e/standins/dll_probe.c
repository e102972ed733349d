/* Asks Windows, by bare name, for a DLL planted beside the exe and for one
 * planted in the current directory, and prints what happened to each and
 * the process's DEP policy; then loads version.dll, planted beside it too,
 * by name and the two ways the doctor loads it from the system folder, and
 * prints which file each gave. Built twice: with the shipped programs'
 * start-up code (dll_probe.exe) and without it (dll_probe_bare.exe). */
#include <stdio.h>
#include <windows.h>

#include "platform/system_dll.h"

static void Try(const wchar_t *name) {
  HMODULE module = LoadLibraryW(name);
  wprintf(L"%ls: %ls\n", name, module ? L"loaded" : L"refused");
  if (module) FreeLibrary(module);
}

/* Whether module is the system folder's file, or another. */
static void Which(const wchar_t *how, HMODULE module) {
  wchar_t system[MAX_PATH], loaded[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  const DWORD got = module ? GetModuleFileNameW(module, loaded, MAX_PATH) : 0;
  const int from_system = got > length && _wcsnicmp(loaded, system, length) == 0 && loaded[length] == L'\\';
  wprintf(L"%ls: %ls\n", how, !module ? L"refused" : from_system ? L"system" : L"planted");
  if (module) FreeLibrary(module);
}

int wmain(void) {
  DWORD flags = 0;
  BOOL permanent = FALSE;
  Try(L"planted_beside.dll");
  Try(L"planted_cwd.dll");
  if (GetProcessDEPPolicy(GetCurrentProcess(), &flags, &permanent)) wprintf(L"dep: %lu\n", flags);
  Which(L"version.dll from the system folder", LoadFromSystemFolder(L"version.dll"));
  Which(L"version.dll by its full path", LoadByFullPath(L"version.dll"));
  Which(L"version.dll by name", LoadLibraryW(L"version.dll"));
  return 0;
}
