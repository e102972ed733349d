/* Posts WM_QUIT to the threads of the first process whose image name is the
 * one given, from outside it. Retries until a thread accepts: a thread has
 * no queue until it first asks for messages. Exit 0 once posted. */
#include "record.h"
#include <tlhelp32.h>

static DWORD FindProcess(const wchar_t *image) {
  PROCESSENTRY32W entry;
  DWORD pid = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok && !pid; ok = Process32NextW(snapshot, &entry))
    if (!lstrcmpiW(entry.szExeFile, image)) pid = entry.th32ProcessID;
  CloseHandle(snapshot);
  return pid;
}

static BOOL PostQuitToThreadsOf(DWORD pid) {
  THREADENTRY32 entry;
  BOOL posted = FALSE;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return FALSE;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == pid && PostThreadMessageW(entry.th32ThreadID, WM_QUIT, 0, 0)) posted = TRUE;
  CloseHandle(snapshot);
  return posted;
}

int wmain(int argc, wchar_t **argv) {
  if (argc < 2) return 2;
  for (int tries = 0; tries < 300; ++tries, Sleep(50)) {
    DWORD pid = FindProcess(argv[1]);
    if (pid && PostQuitToThreadsOf(pid)) {
      Record(L"posted", argv[1]);
      return 0;
    }
  }
  return 1;
}
