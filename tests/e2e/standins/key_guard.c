/* Makes registry keys readable but not writable for everyone, then proves it
 * took: a full-access open must now be refused. Paths are HKCU\... or
 * HKCR\...; exit 0 when every key is guarded. */
#include <stdio.h>
#include <windows.h>

#include "key_access.h"

static HKEY RootOf(const wchar_t **path) {
  HKEY root = !wcsncmp(*path, L"HKCU\\", 5) ? HKEY_CURRENT_USER : !wcsncmp(*path, L"HKCR\\", 5) ? HKEY_CLASSES_ROOT : NULL;
  *path += 5;
  return root;
}

static int Guard(const wchar_t *full) {
  const wchar_t *path = full;
  HKEY root = RootOf(&path), key;
  LONG status;
  if (!root || RegOpenKeyExW(root, path, 0, WRITE_DAC | READ_CONTROL, &key)) return fwprintf(stderr, L"cannot open %ls\n", full), 1;
  status = SetKeyAccess(key, KEY_READ);
  RegCloseKey(key);
  if (status) return fwprintf(stderr, L"RegSetKeySecurity %ls: %ld\n", full, status), 1;
  status = RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS, &key);
  if (status == ERROR_SUCCESS) return RegCloseKey(key), fwprintf(stderr, L"%ls still opens for writing\n", full), 1;
  status = RegOpenKeyExW(root, path, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return fwprintf(stderr, L"%ls no longer opens for reading: %ld\n", full, status), 1;
  RegCloseKey(key);
  return 0;
}

int wmain(int argc, wchar_t **argv) {
  int failed = 0;
  for (int i = 1; i < argc; ++i) failed |= Guard(argv[i]);
  return failed;
}
