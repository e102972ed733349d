/* Asks Windows, by bare name, for a DLL planted beside the exe and for one
 * planted in the current directory, and prints what happened to each and
 * the process's DEP policy. Built twice: with the shipped programs' start-up
 * code (dll_probe.exe) and without it (dll_probe_bare.exe). */
#include <stdio.h>
#include <windows.h>

static void Try(const wchar_t *name) {
  HMODULE module = LoadLibraryW(name);
  wprintf(L"%ls: %ls\n", name, module ? L"loaded" : L"refused");
  if (module) FreeLibrary(module);
}

int wmain(void) {
  DWORD flags = 0;
  BOOL permanent = FALSE;
  Try(L"planted_beside.dll");
  Try(L"planted_cwd.dll");
  if (GetProcessDEPPolicy(GetCurrentProcess(), &flags, &permanent)) wprintf(L"dep: %lu\n", flags);
  return 0;
}
