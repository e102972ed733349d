/* Stands in for a browser (and for anything else the shell may start): it
 * records how it was started, shows a window for a while if told to, lingers
 * as told, and records its exit. */
#include "record.h"

/* Waits until ms after start, answering the window's messages meanwhile. */
static void WaitUntil(DWORD start, DWORD ms) {
  MSG msg;
  for (DWORD now = GetTickCount() - start; now < ms; now = GetTickCount() - start) {
    MsgWaitForMultipleObjects(0, NULL, FALSE, ms - now, QS_ALLINPUT);
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  const DWORD start = GetTickCount();
  DWORD shown_ms, closed_ms, linger_ms = LingerMs();
  WNDCLASSW window_class = {0};
  (void)previous; (void)command_line;
  Record(L"start", GetCommandLineW());
  if (WindowSpan(&shown_ms, &closed_ms)) {
    HWND window;
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"BrowserStandIn";
    RegisterClassW(&window_class);
    WaitUntil(start, shown_ms);
    window = CreateWindowExW(0, L"BrowserStandIn", L"Stand-in browser", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, NULL,
                             NULL, instance, NULL);
    ShowWindow(window, show);
    Record(L"window", window && IsWindowVisible(window) ? L"shown" : L"not shown");
    WaitUntil(start, closed_ms);
    DestroyWindow(window);
    Record(L"window", L"closed");
  }
  WaitUntil(start, linger_ms);
  Record(L"exit", L"");
  return 0;
}
