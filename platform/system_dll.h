/* A system DLL by name, from the system folder only, wherever the program
 * was started: one planted beside it or in the current folder is never
 * loaded. C as well as C++, for the end-to-end probe that checks it. */
#pragma once

#include <wchar.h>
#include <windows.h>

/* Windows 8 and later, and Vista and 7 with their 2011 loader update (which
 * brought AddDllDirectory with it): the loader's own system-folder search. */
static inline HMODULE LoadFromSystemFolder(const wchar_t* name) {
  return LoadLibraryExW(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

/* Elsewhere (2000, XP, Vista and 7 without the update, where that flag fails
 * with ERROR_INVALID_PARAMETER): the full path in the system folder, its own
 * imports looked for there first. */
static inline HMODULE LoadByFullPath(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + wcslen(name) >= MAX_PATH) return NULL;
  path[length] = L'\\';
  wcscpy(path + length + 1, name);
  return LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

static inline HMODULE LoadSystemDll(const wchar_t* name) {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const int search_flags = kernel != NULL && GetProcAddress(kernel, "AddDllDirectory") != NULL;
  return search_flags ? LoadFromSystemFolder(name) : LoadByFullPath(name);
}
