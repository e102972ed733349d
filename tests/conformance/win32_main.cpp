// The claims, against Windows itself: this program links the real platform/
// layers and makes each claim's world for real, under a key and a folder of
// its own that go with the claim. Prints "ok" or "FAIL" a claim and a closing
// "N passed, M failed"; exits 1 when a claim failed.
//
// "--release xp|vista|7|8" names the Windows release it runs on (8 and later
// by default), whose version the simulation claims. Under Wine, a claim that
// rests on Microsoft's documentation alone is not checked, and says why.
//
// Started as "--child EVENT [--window]" it is one of a claim's processes:
// it shows a window when asked, sets the named event, and runs until it is
// ended.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/conformance/claims.h"
#include "tests/e2e/standins/key_access.h"

namespace {

using conformance::Builder;

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
std::u16string U(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

std::wstring OwnPath() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

class RealBuilder : public Builder {
 public:
  RealBuilder(int claim, sim::Version release) : release_(release) {
    const std::wstring id = std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(claim);
    id_ = id;
    base_key_ = L"Software\\GamestartConformance\\" + id;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    base_folder_ = std::wstring(temp) + L"gamestart-conformance-" + id;
    ::CreateDirectoryW(base_folder_.c_str(), nullptr);
    event_prefix_ = L"Local\\gamestart-conformance-" + id + L"-";
  }

  ~RealBuilder() override {
    for (HWND window : windows_) ::DestroyWindow(window);
    for (HANDLE process : processes_) {
      ::TerminateProcess(process, 0);
      ::WaitForSingleObject(process, 5000);
      ::CloseHandle(process);
    }
    for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
      if (made->kind == Made::kKey) {
        Writable(made->path);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, made->path.c_str());
      } else if (made->kind == Made::kFolder) {
        ::RemoveDirectoryW(made->path.c_str());
      } else {
        ::DeleteFileW(made->path.c_str());
      }
    }
    ::RemoveDirectoryW(base_folder_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, base_key_.c_str());
    for (const auto& [root, path] : classes_) ::RegDeleteTreeW(root, path.c_str());
    for (const std::wstring& path : software_)
      for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), view, 0);
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
      ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\GamestartConformance", view, 0);  // when it is empty
  }

  std::u16string Key() override {
    const std::wstring path = base_key_ + L"\\" + std::to_wstring(++count_);
    HKEY key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
      ::RegCloseKey(key);
    made_.push_back({Made::kKey, path});
    return U(path);
  }

  void Value(const std::u16string& key, const char16_t* name, std::uint32_t type,
             const std::vector<std::uint8_t>& data) override {
    HKEY opened;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, W(key), 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) return;
    ::RegSetValueExW(opened, reinterpret_cast<const wchar_t*>(name), 0, type, data.data(),
                     static_cast<DWORD>(data.size()));
    ::RegCloseKey(opened);
  }

  std::u16string NamedKey(const std::u16string& name) override {
    const std::u16string path = Key() + u"\\" + name;
    HKEY key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, W(path), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
      ::RegCloseKey(key);
    made_.push_back({Made::kKey, W(path)});
    return path;
  }

  platform::Window AnsiWindow() override {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = ::DefWindowProcA;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = "GamestartConformanceAnsi";
    ::RegisterClassA(&window_class);
    const HWND window = ::CreateWindowExA(0, window_class.lpszClassName, "conformance", 0, 0, 0, 10, 10, HWND_MESSAGE,
                                          nullptr, window_class.hInstance, nullptr);
    windows_.push_back(window);
    return static_cast<platform::Window>(reinterpret_cast<std::uintptr_t>(window));
  }

  void Post(platform::Window window, std::uint32_t message) override {
    ::PostMessageA(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)), message, 0, 0);
  }

  // As the end-to-end suite's key_guard does: reading for everyone, nothing more.
  void ReadOnly(const std::u16string& key) override { SetAccess(std::wstring(W(key)), KEY_READ); }

  std::u16string Folder() override {
    const std::wstring path = base_folder_ + L"\\" + std::to_wstring(++count_);
    ::CreateDirectoryW(path.c_str(), nullptr);
    made_.push_back({Made::kFolder, path});
    return U(path);
  }

  void File(const std::u16string& path) override {
    const HANDLE file = ::CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    made_.push_back({Made::kFile, W(path)});
  }

  void Directory(const std::u16string& path) override {
    ::CreateDirectoryW(W(path), nullptr);
    made_.push_back({Made::kFolder, W(path)});
  }

  // Windows 10 1703 and later let a program without the privilege make one
  // with SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, in developer mode.
  void Link(const std::u16string& path, const std::u16string& target) override {
    using CreateLink = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
    const auto create = reinterpret_cast<CreateLink>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
    if (create != nullptr && !create(W(path), W(target), 0x2)) create(W(path), W(target), 0);
    made_.push_back({Made::kFile, W(path)});
  }

  sim::Version Release() override { return release_; }

  std::u16string SoftwareKey() override {
    const std::wstring path = L"SOFTWARE\\GamestartConformance\\" + id_ + L"-" + std::to_wstring(++count_);
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      HKEY key;
      if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                            nullptr) == ERROR_SUCCESS)
        ::RegCloseKey(key);
    }
    software_.push_back(path);
    return U(path);
  }

  void SoftwareValue(const std::u16string& key, bool view64, const char16_t* name,
                     const std::u16string& text) override {
    HKEY opened;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(key), 0, KEY_SET_VALUE | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY),
                        &opened) != ERROR_SUCCESS)
      return;
    ::RegSetValueExW(opened, reinterpret_cast<const wchar_t*>(name), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(2 * (text.size() + 1)));
    ::RegCloseKey(opened);
  }

  std::u16string ClassForBoth(const std::u16string& machine_command, const std::u16string& user_command) override {
    const std::wstring name = L"GamestartConformance." + id_ + L"-" + std::to_wstring(++count_);
    for (const auto& [root, command] : {std::pair<HKEY, std::u16string>{HKEY_LOCAL_MACHINE, machine_command},
                                        std::pair<HKEY, std::u16string>{HKEY_CURRENT_USER, user_command}}) {
      HKEY key;
      const std::wstring path = L"Software\\Classes\\" + name + L"\\shell\\open\\command";
      if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        continue;
      ::RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>(2 * (command.size() + 1)));
      ::RegCloseKey(key);
      classes_.push_back({root, L"Software\\Classes\\" + name});
    }
    return U(name);
  }

  // A system DLL: every Windows, and Wine, carries its version resource.
  std::u16string VersionedProgram() override {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return U(std::wstring(folder, length) + L"\\kernel32.dll");
  }

  std::uint32_t Process(const std::u16string& image, bool window) override {
    const std::wstring path = base_folder_ + L"\\" + std::wstring(W(image));
    ::CopyFileW(OwnPath().c_str(), path.c_str(), TRUE);
    made_.push_back({Made::kFile, path});
    const std::wstring event_name = event_prefix_ + std::to_wstring(++count_);
    const HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
    std::wstring command = L"\"" + path + L"\" --child " + event_name + (window ? L" --window" : L"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    DWORD id = 0;
    if (::CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
      ::CloseHandle(started.hThread);
      processes_.push_back(started.hProcess);
      id = started.dwProcessId;
      ::WaitForSingleObject(ready, 20000);
    }
    ::CloseHandle(ready);
    return id;
  }

 private:
  struct Made {
    enum Kind { kKey, kFolder, kFile } kind;
    std::wstring path;
  };

  static bool SetAccess(const std::wstring& key, DWORD rights) {
    HKEY opened;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, WRITE_DAC, &opened) != ERROR_SUCCESS) return false;
    const LONG status = SetKeyAccess(opened, rights);
    ::RegCloseKey(opened);
    return status == ERROR_SUCCESS;
  }

  // Its owner may always change a key's access, so that it can be deleted.
  static void Writable(const std::wstring& key) { SetAccess(key, KEY_ALL_ACCESS); }

  sim::Version release_;
  std::wstring id_, base_key_, base_folder_, event_prefix_;
  std::vector<std::wstring> software_;
  std::vector<std::pair<HKEY, std::wstring>>
      classes_;  // registered under Software\\Classes  // keys made under HKLM\\SOFTWARE, in both views
  std::vector<Made> made_;
  std::vector<HANDLE> processes_;
  std::vector<HWND> windows_;
  int count_ = 0;
};

bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

sim::Version ReleaseNamed(const wchar_t* name) {
  if (std::wcscmp(name, L"xp") == 0) return sim::kWindowsXp;
  if (std::wcscmp(name, L"vista") == 0) return sim::kWindowsVista;
  if (std::wcscmp(name, L"7") == 0) return sim::kWindows7;
  return sim::kWindows8AndLater;
}

int Child(const wchar_t* event_name, bool window) {
  if (window) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = ::DefWindowProcW;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"GamestartConformance";
    ::RegisterClassW(&window_class);
    ::CreateWindowExW(0, window_class.lpszClassName, L"conformance", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                      nullptr, nullptr, window_class.hInstance, nullptr);
  }
  const HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name);
  if (ready != nullptr) ::SetEvent(ready);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wcscmp(argv[1], L"--child") == 0) return Child(argv[2], argc >= 4);
  const sim::Version release =
      argc >= 3 && std::wcscmp(argv[1], L"--release") == 0 ? ReleaseNamed(argv[2]) : sim::kWindows8AndLater;
  const bool wine = UnderWine();
  int passed = 0, failed = 0, claim = 0, skipped = 0;
  for (const conformance::Claim& c : conformance::Claims()) {
    ++claim;
    if (wine && c.documented != nullptr) {
      std::printf("skip %s: rests on Microsoft's documentation: %s\n", c.what, c.documented);
      ++skipped;
      continue;
    }
    std::string seen;
    {
      RealBuilder builder(claim, release);
      seen = c.check(builder);
    }
    std::printf("%s %s%s%s\n", seen.empty() ? "ok  " : "FAIL", c.what, seen.empty() ? "" : ": ", seen.c_str());
    ++(seen.empty() ? passed : failed);
  }
  std::printf("%d passed, %d failed, %d not checked here\n", passed, failed, skipped);
  return failed == 0 ? 0 : 1;
}
