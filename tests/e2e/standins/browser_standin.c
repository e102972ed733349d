/* Stands in for a browser (and for anything else the shell may start): it
 * records how it was started, lingers as told, and records its exit. */
#include "record.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  (void)instance; (void)previous; (void)command_line; (void)show;
  Record(L"start", GetCommandLineW());
  Sleep(LingerMs());
  Record(L"exit", L"");
  return 0;
}
