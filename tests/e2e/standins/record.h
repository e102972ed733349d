/* Shared by the stand-ins: one line per event, appended to the file named by
 * STANDIN_LOG, as UTF-8:  event <TAB> unix-ms <TAB> pid <TAB> image <TAB> text */
#pragma once
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

static inline unsigned long long NowUnixMs(void) {
  FILETIME ft;
  ULARGE_INTEGER t;
  GetSystemTimeAsFileTime(&ft);
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return t.QuadPart / 10000ULL - 11644473600000ULL;
}

static inline void Record(const wchar_t *event, const wchar_t *text) {
  wchar_t log_path[MAX_PATH], image[MAX_PATH], line[8192];
  char utf8[4 * 8192];
  DWORD written;
  HANDLE log, lock;
  int bytes;
  if (!GetEnvironmentVariableW(L"STANDIN_LOG", log_path, MAX_PATH)) return;
  GetModuleFileNameW(NULL, image, MAX_PATH);
  _snwprintf(line, 8191, L"%ls\t%I64u\t%lu\t%ls\t%ls\n", event, NowUnixMs(), GetCurrentProcessId(), image, text);
  line[8191] = 0;
  bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, NULL, NULL) - 1;
  /* Several stand-ins may write at once, and Wine's append mode is not atomic
   * between processes (a line was seen lost): one writer at a time. */
  lock = CreateMutexW(NULL, FALSE, L"standin-log");
  if (lock) WaitForSingleObject(lock, 5000);
  log = CreateFileW(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
  if (log != INVALID_HANDLE_VALUE) {
    WriteFile(log, utf8, (DWORD)bytes, &written, NULL);
    CloseHandle(log);
  }
  if (lock) {
    ReleaseMutex(lock);
    CloseHandle(lock);
  }
}

/* Milliseconds to linger, from "<own image>.linger" beside the exe; 0 without it. */
static inline DWORD LingerMs(void) {
  wchar_t path[MAX_PATH + 8];
  char digits[32] = {0};
  DWORD got = 0;
  HANDLE f;
  GetModuleFileNameW(NULL, path, MAX_PATH);
  lstrcatW(path, L".linger");
  f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (f == INVALID_HANDLE_VALUE) return 0;
  ReadFile(f, digits, sizeof digits - 1, &got, NULL);
  CloseHandle(f);
  return (DWORD)strtoul(digits, NULL, 10);
}

/* When to show a window and when to close it, in ms after start, from
 * "<own image>.window" beside the exe ("SHOW CLOSE"); no window without it. */
static inline BOOL WindowSpan(DWORD *shown_ms, DWORD *closed_ms) {
  wchar_t path[MAX_PATH + 8];
  char text[64] = {0};
  char *end;
  DWORD got = 0;
  HANDLE f;
  GetModuleFileNameW(NULL, path, MAX_PATH);
  lstrcatW(path, L".window");
  f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (f == INVALID_HANDLE_VALUE) return FALSE;
  ReadFile(f, text, sizeof text - 1, &got, NULL);
  CloseHandle(f);
  *shown_ms = (DWORD)strtoul(text, &end, 10);
  *closed_ms = (DWORD)strtoul(end, NULL, 10);
  return TRUE;
}
