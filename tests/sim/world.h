// A small simulated Windows behind the platform interface, for host tests.
// One World, reset per test: registry, files, processes on a virtual clock,
// a message queue, recorded shell calls and every handle handed out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace sim {

using platform::Window;

// What only the simulation needs of Windows' constants.
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
inline constexpr std::uint32_t kErrorBadLength = 24;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kKeyAllAccess = 0x000F003F;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;

// clang-format off
enum class Call {
  RegOpenKeyExW, RegQueryValueExW, RegCloseKey, GetVersionExW, GetFileAttributesW, GetLastError,
  FindFirstFileW, FindClose, CreateFileW, CloseHandle, CreateToolhelp32Snapshot, Process32FirstW,
  Process32NextW, Sleep, ShellExecuteExW, ShellExecuteW, PeekMessageW, PeekMessageA, IsWindowUnicode,
  EnumWindows, GetWindowThreadProcessId, IsWindowVisible, GetWindow, GetWindowLongW, AssocQueryStringW,
  IsWow64Process2, IsWow64Process, GetNativeSystemInfo, GetFileVersionInfoSizeW, GetFileVersionInfoW,
  VerQueryValueW,
  // the installer engine's
  WriteFile, ReadFile, FlushFileBuffers, GetFileAttributesExW, MoveFileExW, ReplaceFileW, DeleteFileW,
  CreateDirectoryW, RemoveDirectoryW, FindNextFileW, GetDiskFreeSpaceExW, RegCreateKeyExW, RegSetValueExW,
  RegDeleteValueW, RegEnumValueW, SHDeleteKeyW,
};
// clang-format on
const char* NameOf(Call call);

// Text as the registry stores it: UTF-16, little-endian, and only what it holds.
inline std::vector<std::uint8_t> Utf16(const std::u16string& text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

// A letter's case as Windows folds it in key and file names: ASCII, and the
// Cyrillic letters of the players' language (Ё and the basic 32).
constexpr char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c - u'A' + u'a');
  if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 0x50);
  return c;
}

// Stored UTF-16 back to text, up to its first NUL.
inline std::u16string FromUtf16(const std::uint8_t* bytes, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size && (bytes[i] | bytes[i + 1]) != 0; i += 2)
    text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
  return text;
}

struct CaseLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const;
};

inline bool FoldCaseEqual(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

struct RegistryValue {
  std::uint32_t type = platform::kRegSz;
  std::vector<std::uint8_t> data;
  // When set, the data becomes this once its size has been queried.
  std::optional<std::vector<std::uint8_t>> after_size_query;
  // When set, the size query reports this size instead of the data's.
  std::optional<std::uint32_t> reported_size;
  // When set, the size query fails with this error, after reporting the size.
  std::int32_t size_query_error = 0;
};

struct RegistryKey {
  std::uint32_t granted = kKeyAllAccess;
  std::map<std::u16string, RegistryValue, CaseLess> values;
};

struct File {
  std::uint32_t attributes = kFileAttributeNormal;
  std::uint32_t attributes_error = 0;  // GetFileAttributesW fails with this when set
  bool listed = true;                  // FindFirstFileW finds it
  std::uint32_t open_error = 0;        // CreateFileW fails with this when set
};

// What GetVersionExW answers a program without a manifest, as the launcher
// is, on each release: Windows 8 and later all answer 6.2.9200.
struct Version {
  std::uint32_t major, minor, build;
};
inline constexpr Version kWindows2000{5, 0, 2195}, kWindowsXp{5, 1, 2600}, kWindowsVista{6, 0, 6002},
    kWindows7{6, 1, 7601}, kWindows8AndLater{6, 2, 9200};

// Where Windows names itself (under HKLM), as the 64-bit view holds it; a
// 32-bit program reads it there only with KEY_WOW64_64KEY, and otherwise
// from the WOW6432Node copy on a 64-bit machine.
inline constexpr char16_t kCurrentVersionKey[] = u"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr std::uint32_t kErrorResourceTypeNotFound = 1813;

// A file's version resource: the block GetFileVersionInfoW copies, and
// where in it VerQueryValueW finds each value (length in characters for
// text, in bytes otherwise). Answers as given, also past the block's end.
struct VersionResource {
  struct Value {
    std::size_t offset;
    std::uint32_t length;
  };
  std::vector<std::uint8_t> block;
  std::optional<std::uint32_t> reported_size;  // GetFileVersionInfoSizeW's answer, when not the block's size
  std::map<std::u16string, Value, CaseLess> values;

  // Laid out as a program carries them: the translation table
  // ("\\VarFileInfo\\Translation": language, code page), then each
  // string ("\\StringFileInfo\\040904B0\\ProductName") with its terminator.
  static VersionResource Of(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& translations,
                            const std::vector<std::pair<std::u16string, std::u16string>>& strings);
};

struct World;

// A machine as Windows describes itself on it: the version a program
// without a manifest is told, the processor, whether it has IsWow64Process2
// (Windows 10 1709 and later), and the CurrentVersion key's values, in the
// 64-bit view (nullptr or none: absent). Its WOW6432Node copy is older.
struct Machine {
  Version version;
  std::uint16_t native_machine;
  bool has_is_wow64_process2;
  const char16_t *product_name, *display_version, *release_id, *current_build;
  std::optional<std::uint32_t> ubr;
  void InstallIn(World& world) const;
};
inline const Machine kWindows11_24H2{
    kWindows8AndLater, platform::kMachineAmd64, true, u"Windows 10 Pro", u"24H2", u"2009", u"26100", 4061};
inline const Machine kWindows10_22H2{
    kWindows8AndLater, platform::kMachineAmd64, true, u"Windows 10 Home", u"22H2", u"2009", u"19045", 5131};
inline const Machine kWindows7Sp1{
    kWindows7, platform::kMachineAmd64, false, u"Windows 7 Professional", nullptr, nullptr, u"7601", std::nullopt};
inline const Machine kWindows11Arm64{
    kWindows8AndLater, platform::kMachineArm64, true, u"Windows 10 Home", u"21H2", u"2009", u"22000", 2538};
inline const Machine kWindowsServer2025{kWindows8AndLater,
                                        platform::kMachineAmd64,
                                        true,
                                        u"Windows Server 2025 Datacenter",
                                        u"24H2",
                                        nullptr,
                                        u"26100",
                                        1742};

inline constexpr std::int64_t kForever = INT64_MAX;

struct Process {
  std::u16string image;
  std::int64_t start_ms = 0;
  std::int64_t exit_ms = kForever;
  std::uint32_t id = 0;  // 0: one is made up from its place in the list
};

// A top-level window, there from shown_ms until closed_ms.
struct TopWindow {
  std::uint32_t process_id;
  std::int64_t shown_ms = 0;
  std::int64_t closed_ms = kForever;
  bool visible = true;
  Window owner = platform::kNoWindow;
  bool tool = false;
};

struct Message {
  Window hwnd = platform::kNoWindow;
  std::uint32_t message = 0;
  std::int64_t arrives_ms = 0;
};

struct RemovedMessage {
  std::uint32_t message;
  bool ansi;
};

struct Launch {  // one ShellExecuteExW
  std::uint32_t cbSize, fMask;
  Window hwnd;
  std::optional<std::u16string> verb, file, parameters, directory;  // nullopt: absent
  std::int32_t nShow;
  std::int64_t at_ms;
};

struct Open {  // one ShellExecuteW
  Window owner;
  std::optional<std::u16string> verb, file, parameters, directory;
  std::int32_t show;
  std::int64_t at_ms;
};

// One registry call or association query: its arguments and what it
// answered. For RegOpenKeyExW: base, name (the sub-key), access, opened;
// RegQueryValueExW: base (the key), name (the value's), with_data, type,
// size, data as written; AssocQueryStringW: access (the ASSOCSTR), with_data,
// size (characters), text as written.
struct RegistryCall {
  explicit RegistryCall(Call c) : call(c) {}
  Call call;
  platform::Key base = platform::kNoKey, opened = platform::kNoKey;
  std::u16string name, text;
  std::uint32_t access = 0, type = 0, size = 0;
  std::int32_t status = 0;
  bool with_data = false;
  std::vector<std::uint8_t> data;
};

// What the shell answers AssocQueryStringW for http links' open verb, for
// one ASSOCSTR: the text, or status when that is not S_OK.
struct ShellAnswer {
  ShellAnswer(std::u16string answer = {}, std::int32_t hresult = 0, std::uint32_t reported = 0)
      : text(std::move(answer)), status(hresult), reported_chars(reported) {}
  std::u16string text;
  std::int32_t status;
  std::uint32_t reported_chars;  // when not 0, the length query answers this instead
};
inline constexpr std::int32_t kHresultNoAssociation = static_cast<std::int32_t>(0x80070483);
inline constexpr std::int32_t kHresultPointer = static_cast<std::int32_t>(0x80004003);
inline constexpr std::int32_t kHresultFail = static_cast<std::int32_t>(0x80004005);
inline constexpr std::int32_t kHresultNotImplemented = static_cast<std::int32_t>(0x80004001);

// A call with arguments the simulation does not model: the test stops here
// rather than get a plausible answer.
[[noreturn]] void Unmodelled(const char* call);

// A file on the installer engine's disk: its bytes, the part of them a power
// cut keeps (flushed; a name and a size always survive), and what else holds it.
struct DiskFile {
  bool folder = false;
  std::vector<std::uint8_t> bytes, durable;
  std::uint64_t written = 0;           // last-write time, a FILETIME
  bool held = false;                   // open by another program without sharing: no open, rename or delete
  std::int64_t let_go_ms = INT64_MAX;  // when a held file's holder closes it
  bool running = false;                // a running program's image: renamed, but neither written nor deleted
};

// Thrown by Sleep when a test's loop runs past the virtual time cap.
struct Runaway : std::runtime_error {
  Runaway() : std::runtime_error("virtual clock ran past its cap: the wait did not end") {}
};

enum class HandleKind { Key, Find, File, Snapshot, Process };

struct World {
  // Registry: keys by "HKCU\..." or "HKCR\..." path, case-insensitive.
  std::map<std::u16string, RegistryKey, CaseLess> keys;
  RegistryKey& KeyAt(std::u16string path) { return keys[path]; }
  void SetString(const std::u16string& key, const std::u16string& name, const std::u16string& text,
                 std::uint32_t type = platform::kRegSz);  // stored with its terminator, as Windows does
  void SetRaw(const std::u16string& key, const std::u16string& name, std::uint32_t type,
              std::vector<std::uint8_t> data);

  Version version = kWindows8AndLater;
  bool version_fails = false;

  // The machine (IMAGE_FILE_MACHINE_*) the simulated 32-bit program runs
  // on, and which of the calls that tell it this Windows has.
  std::uint16_t native_machine = platform::kMachineAmd64;
  bool has_is_wow64_process2 = true, has_is_wow64_process = true, has_native_system_info = true;

  // Version resources by file; version.dll loads unless told otherwise.
  std::map<std::u16string, VersionResource, CaseLess> version_resources;
  bool version_dll_loads = true;
  std::map<const void*, const VersionResource*> version_blocks;  // each block GetFileVersionInfoW filled

  std::map<std::u16string, File, CaseLess> files;

  std::vector<Process> processes;
  bool snapshot_fails = false;

  // Top-level windows; window i has the handle TopWindowHandle(i).
  std::vector<TopWindow> top_windows;
  struct Span {
    std::int64_t from_ms = kForever, until_ms = kForever;
  } enum_windows_fails;  // EnumWindows fails from from_ms until until_ms

  std::deque<Message> queue;
  // Mouse messages in the queue, so that a mouse-only peek of a long queue
  // without any is not a scan; recounted whenever the queue changed size
  // behind the simulation's back.
  std::size_t mouse_queued = 0, counted_queue_size = 0;
  std::map<Window, bool> windows;  // window -> is Unicode
  std::vector<RemovedMessage> removed;

  // ShellExecuteExW: whether it accepts, and the process it then starts.
  bool shell_accepts = true;
  std::optional<Process> started_process;  // times relative to the launch
  bool returns_process_handle = true;
  std::vector<Launch> launches;
  std::vector<Open> opens;
  // By ASSOCSTR. One not listed comes from the class the shell honours for
  // http links, when that class has an open command: its name, or that command.
  std::map<std::uint32_t, ShellAnswer> shell_answers;
  std::u16string shell_class = u"http";

  // Every registry call and association query, as made and answered; and
  // whoever wants to hear of each as it is logged (nobody by default).
  std::vector<RegistryCall> registry_log;
  std::function<void(const RegistryCall&)> on_registry_call;

  std::int64_t now_ms = 0;
  std::int64_t clock_cap_ms = 24 * 3600 * 1000;
  std::uint32_t last_error = 0;

  // Handles: what is open, and every misuse (double close, wrong closer).
  std::map<std::uintptr_t, HandleKind> open_handles;
  std::vector<std::string> handle_errors;
  std::uintptr_t next_handle = 0x1000;
  std::map<std::uintptr_t, std::u16string> key_paths;  // open key -> its path
  struct Snapshot {
    std::vector<std::pair<std::u16string, std::uint32_t>> entries;  // image and id of those alive then, in order
    std::size_t next = 0;
  };
  std::map<std::uintptr_t, Snapshot> snapshots;

  // Every call made, and fault injection: the call with this 1-based number
  // fails the way Windows reports failure for it. A kill: every call after
  // the first stop_after fails before it acts, as if the process were gone.
  std::vector<Call> calls;
  std::size_t fail_call = 0;
  std::size_t stop_after = 0;
  bool Killed() const;  // whether a call came past stop_after

  // The installer engine's disk, by full path ("C:" is always a folder), its
  // free space, and what the engine has open on it.
  std::map<std::u16string, DiskFile, CaseLess> disk;
  std::uint64_t disk_free = std::uint64_t{1} << 40;
  struct OpenDiskFile {
    std::u16string path;
    bool write;
    std::size_t position;
  };
  std::map<std::uintptr_t, OpenDiskFile> disk_handles;
  std::map<std::uintptr_t, std::vector<std::u16string>> disk_finds;  // names still to list
  // A power cut: what was not flushed is lost (as zeros: the size survives).
  void PowerCut();
  // A process ended (killed, or after a power cut): its handles are gone.
  void EndProcess();

  std::uintptr_t NewHandle(HandleKind kind);
  // Closes handle if it is open and of a kind closer accepts, with whatever
  // the world keeps for it; otherwise records the misuse.
  bool Release(std::uintptr_t handle, std::initializer_list<HandleKind> kinds, const char* closer);
  // Counts the call; answers whether it is the one to fail.
  bool Enter(Call call);
  std::size_t CountOf(Call call) const;
};

inline Window TopWindowHandle(std::size_t index) { return static_cast<Window>(0x50000 + 4 * index); }

World& TheWorld();
void Reset();

// Marks a platform call in progress, so that allocation counts can leave
// out the simulation's own bookkeeping.
struct InPlatform {
  InPlatform();
  ~InPlatform();
  InPlatform(const InPlatform&) = delete;
  InPlatform& operator=(const InPlatform&) = delete;
  // Out again for a while, as for a callback into the caller's code.
  struct Leave {
    Leave();
    ~Leave();
    Leave(const Leave&) = delete;
    Leave& operator=(const Leave&) = delete;
    int depth;
  };
};
bool InsidePlatform();

}  // namespace sim
