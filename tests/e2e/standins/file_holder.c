/* Holds FILE open without sharing, as a scanner does, until it is ended;
 * once it holds it, it makes the file MARK, for the test to wait on.
 * Usage: file_holder FILE MARK. Exit 1 when FILE cannot be opened. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  HANDLE file, mark;
  if (argc != 3) return 2;
  file = CreateFileW(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  mark = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  Sleep(INFINITE);
  return 0;
}
