/* The floor: the Win32 calls the launcher must make on Vista and later, in
 * the same order, in plain C with fixed buffers and no C++ runtime. Not
 * shipped; the benchmark runs it beside the launcher to show what the
 * launcher's own code costs on top. */
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "app/build_config.h"
#define GAME_ADDRESS L"https://" LAUNCHER_GAME_HOST "/partner/iframe/10?cid=ru"
#define USER_CHOICE L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice"

static wchar_t prog_id[1024], key_path[1100], command[2048], program[2048], arguments[4096], name[MAX_PATH];
static DWORD browser_ids[256];
static int browser_count;

/* Probe and open like the launcher, then read one text value. */
static BOOL ReadValue(HKEY root, const wchar_t *path, const wchar_t *value, wchar_t *out, DWORD chars) {
  HKEY key;
  DWORD type, size = 0;
  if (RegOpenKeyExW(root, path, 0, STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key)) return FALSE;
  RegCloseKey(key);
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key)) return FALSE;
  if (!RegQueryValueExW(key, value, NULL, &type, NULL, &size) && size && size < chars * 2) {
    size = (size / 2 + 1) * 2;
    RegQueryValueExW(key, value, NULL, &type, (BYTE *)out, &size);
  }
  RegCloseKey(key);
  return TRUE;
}

/* Collects the ids of the processes whose image name contains watched. */
static BOOL Running(const wchar_t *watched) {
  PROCESSENTRY32W entry;
  BOOL ok;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  browser_count = 0;
  if (snapshot == INVALID_HANDLE_VALUE) return FALSE;
  entry.dwSize = sizeof entry;
  for (ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
    const wchar_t *s;
    BOOL found = FALSE;
    for (s = entry.szExeFile; *s && !found; ++s) {
      const wchar_t *a = s, *b = watched;
      while (*a && *b && (*a | 32 * (*a >= 'A' && *a <= 'Z')) == (*b | 32 * (*b >= 'A' && *b <= 'Z'))) ++a, ++b;
      found = !*b && *watched;
    }
    if (found && browser_count < 256) browser_ids[browser_count++] = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return browser_count > 0;
}

/* Stops at a window with a taskbar button of one of those processes. */
static BOOL CALLBACK NotBrowserWindow(HWND window, LPARAM open) {
  DWORD id = 0;
  int i;
  if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) || (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW))
    return TRUE;
  if (!GetWindowThreadProcessId(window, &id)) return TRUE;
  for (i = 0; i < browser_count; ++i)
    if (browser_ids[i] == id) return !(*(BOOL *)open = TRUE);
  return TRUE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR line, int show) {
  OSVERSIONINFOW version = {sizeof version};
  SHELLEXECUTEINFOW launch = {sizeof launch};
  MSG msg;
  BOOL running, listed, open, seen = FALSE;
  wchar_t *quote, *p, *o;
  int i, start, end;
  (void)instance; (void)previous; (void)line; (void)show;

  if (GetVersionExW(&version) && ReadValue(HKEY_CURRENT_USER, USER_CHOICE, L"Progid", prog_id, 1024)) {
    lstrcpyW(key_path, prog_id);
    lstrcatW(key_path, L"\\shell\\open\\command");
    ReadValue(HKEY_CLASSES_ROOT, key_path, L"", command, 2048);
  }
  quote = command[0] ? wcschr(command + 1, L'"') : NULL;
  i = quote ? (int)(quote - command) + 1 : 0;
  lstrcpynW(program, command, i + 1);
  /* Address in place of every %1. */
  for (p = command + i, o = arguments; *p; ++p) {
    if (p[0] == L'%' && p[1] == L'1') o += wsprintfW(o, L"%s", GAME_ADDRESS), ++p;
    else *o++ = *p;
  }
  *o = 0;
  launch.fMask = SEE_MASK_NOCLOSEPROCESS;
  launch.lpFile = program;
  launch.lpParameters = arguments;
  launch.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&launch)) {
    if (launch.hProcess) CloseHandle(launch.hProcess);
    end = lstrlenW(program) - 1;
    for (start = end - 1; start >= 0 && program[start] != L'\\'; --start) {}
    lstrcpynW(name, program + start + 1, end - start > 0 ? end - start : 1);
    do {
      Sleep(1000);
      while (PeekMessageW(&msg, NULL, WM_MOUSEFIRST, WM_MOUSEHWHEEL, PM_REMOVE) ||
             PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) name[0] = 0;
      }
      running = Running(name);
      open = FALSE;
      listed = running && EnumWindows(NotBrowserWindow, (LPARAM)&open);
      if (open) seen = TRUE;
      else if (listed && seen) break;
    } while (name[0] && running);
  }
  if (GetFileAttributesW(L"play.url") != INVALID_FILE_ATTRIBUTES) ShellExecuteW(NULL, L"open", L"play.url", L"", L"", SW_SHOWNORMAL);
  if (GetFileAttributesW(L"fscommand\\wgame.exe") != INVALID_FILE_ATTRIBUTES)
    ShellExecuteW(NULL, L"open", L"fscommand\\wgame.exe", L"", L"", SW_SHOWNORMAL);
  return 0;
}
