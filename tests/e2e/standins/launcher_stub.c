/* Behaves like a browser's small launcher: starts the sibling opera.exe with
 * the same arguments and exits at once. */
#include "record.h"

/* The text after the program name on a command line. */
static const wchar_t *ArgumentsOf(const wchar_t *line) {
  int quoted = 0;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"') quoted = !quoted;
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  static wchar_t sibling[MAX_PATH], line[8192];
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  wchar_t *slash;
  (void)instance; (void)previous; (void)command_line; (void)show;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  Record(L"start", GetCommandLineW());
  GetModuleFileNameW(NULL, sibling, MAX_PATH);
  slash = wcsrchr(sibling, L'\\');
  lstrcpyW(slash ? slash + 1 : sibling, L"opera.exe");
  _snwprintf(line, 8191, L"\"%ls\" %ls", sibling, ArgumentsOf(GetCommandLineW()));
  if (CreateProcessW(sibling, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  Record(L"exit", L"");
  return 0;
}
