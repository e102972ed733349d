// The Windows side of the platform: each call forwarded to the real one.
// Files, processes, the message queue, windows and closing keys; both
// programs link this. Opening and reading keys, the version and the shell
// calls are in each program's own layer (win32_launch.cpp here, and the
// doctor's doctor/platform_win32.cpp). The Windows layers, the doctor's
// console and files (doctor/io_win32.cpp), startup/, the conformance program
// (tests/conformance/win32_main.cpp) and bench/floor.c are the only files
// that see <windows.h>.
#include "platform/win32_types.h"

namespace platform {

using win32::FromWin;
using win32::ToWin;
using win32::W;

namespace {

void FromWin(const MSG& in, Msg* out) {
  out->hwnd = win32::FromWin(in.hwnd);
  out->message = in.message;
  out->wParam = in.wParam;
  out->lParam = in.lParam;
  out->time = in.time;
}

// EnumWindows calls back with the Win32 calling convention and types.
struct EnumWindowsContext {
  EnumWindowsProc callback;
  void* context;
};

BOOL CALLBACK ForwardWindow(HWND window, LPARAM context) {
  const auto* forward = reinterpret_cast<const EnumWindowsContext*>(context);
  return forward->callback(win32::FromWin(window), forward->context) ? TRUE : FALSE;
}

}  // namespace

std::int32_t RegCloseKey(Key key) { return ::RegCloseKey(ToWin(key)); }

std::uint32_t GetFileAttributesW(const char16_t* path) { return ::GetFileAttributesW(W(path)); }

std::uint32_t GetLastError() { return ::GetLastError(); }

Handle FindFirstFileW(const char16_t* path, FindData* data) {
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW(W(path), &found);
  if (find != INVALID_HANDLE_VALUE) data->dwFileAttributes = found.dwFileAttributes;
  return FromWin(find);
}

bool FindClose(Handle find) { return ::FindClose(ToWin(find)) != FALSE; }

Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share, void* security,
                   std::uint32_t disposition, std::uint32_t flags, Handle template_file) {
  return FromWin(::CreateFileW(W(path), access, share, static_cast<SECURITY_ATTRIBUTES*>(security), disposition, flags,
                               ToWin(template_file)));
}

bool CloseHandle(Handle handle) { return ::CloseHandle(ToWin(handle)) != FALSE; }

Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t process_id) {
  return FromWin(::CreateToolhelp32Snapshot(flags, process_id));
}

bool Process32FirstW(Handle snapshot, ProcessEntry* entry) {
  return ::Process32FirstW(ToWin(snapshot), reinterpret_cast<PROCESSENTRY32W*>(entry)) != FALSE;
}

bool Process32NextW(Handle snapshot, ProcessEntry* entry) {
  return ::Process32NextW(ToWin(snapshot), reinterpret_cast<PROCESSENTRY32W*>(entry)) != FALSE;
}

bool PeekMessageW(Msg* msg, Window window, std::uint32_t filter_min, std::uint32_t filter_max, std::uint32_t remove) {
  MSG real;
  if (!::PeekMessageW(&real, ToWin(window), filter_min, filter_max, remove)) return false;
  FromWin(real, msg);
  return true;
}

bool PeekMessageA(Msg* msg, Window window, std::uint32_t filter_min, std::uint32_t filter_max, std::uint32_t remove) {
  MSG real;
  if (!::PeekMessageA(&real, ToWin(window), filter_min, filter_max, remove)) return false;
  FromWin(real, msg);
  return true;
}

bool IsWindowUnicode(Window window) { return ::IsWindowUnicode(ToWin(window)) != FALSE; }

bool EnumWindows(EnumWindowsProc callback, void* context) {
  EnumWindowsContext forward{callback, context};
  return ::EnumWindows(ForwardWindow, reinterpret_cast<LPARAM>(&forward)) != FALSE;
}

std::uint32_t GetWindowThreadProcessId(Window window, std::uint32_t* process_id) {
  DWORD id = 0;
  const DWORD thread = ::GetWindowThreadProcessId(ToWin(window), &id);
  if (process_id != nullptr) *process_id = id;
  return thread;
}

bool IsWindowVisible(Window window) { return ::IsWindowVisible(ToWin(window)) != FALSE; }

Window GetWindow(Window window, std::uint32_t command) { return FromWin(::GetWindow(ToWin(window), command)); }

std::int32_t GetWindowLongW(Window window, std::int32_t index) { return ::GetWindowLongW(ToWin(window), index); }

}  // namespace platform
