// The platform interface over the simulated World. Each call answers the way
// Windows does, including how it fails when the test injects a fault.
#include <algorithm>
#include <cstring>
#include <utility>

#include "tests/sim/world.h"

namespace platform {

using sim::Call;
using sim::HandleKind;
using sim::kErrorBadLength;
using sim::kErrorInvalidHandle;
using sim::kErrorMoreData;
using sim::kErrorNoMoreFiles;
using sim::TheWorld;

namespace {

constexpr std::int32_t kErrorInvalidParameter = 87;
constexpr std::int32_t kErrorBadPathname = 161;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;

std::optional<std::u16string> Copy(const char16_t* text) {
  return text ? std::optional<std::u16string>(text) : std::nullopt;
}

std::u16string RootName(Key key) {
  if (key == kCurrentUser) return u"HKCU";
  if (key == kClassesRoot) return u"HKCR";
  if (key == kLocalMachine) return u"HKLM";
  return u"";
}

constexpr std::uint32_t kKeyWow64Flags = kKeyWow64_64Key | 0x0200;  // and KEY_WOW64_32KEY: views, not rights

// The key a 32-bit program reaches: on a 64-bit machine HKLM\SOFTWARE is
// its WOW6432Node copy, unless it asks for the 64-bit view.
std::u16string Viewed(const std::u16string& path, std::uint32_t sam) {
  const std::u16string software = u"HKLM\\SOFTWARE\\";
  if ((sam & kKeyWow64_64Key) != 0 || TheWorld().native_machine == kMachineI386 || path.size() < software.size() ||
      !std::equal(software.begin(), software.end(), path.begin(),
                  [](char16_t a, char16_t b) { return sim::FoldCase(a) == sim::FoldCase(b); }))
    return path;
  return software + u"WOW6432Node\\" + path.substr(software.size());
}

// The path of an open key or a root, or empty for anything else.
std::u16string PathOf(Key key) {
  const auto& paths = TheWorld().key_paths;
  auto found = paths.find(static_cast<std::uintptr_t>(key));
  return found != paths.end() ? found->second : RootName(key);
}

bool Arrived(const sim::Message& m) { return m.arrives_ms <= TheWorld().now_ms; }

bool InRange(std::uint32_t message, std::uint32_t low, std::uint32_t high) {
  return (low == 0 && high == 0) || (message >= low && message <= high);
}

bool IsMouse(const sim::Message& m) { return InRange(m.message, kWmMouseFirst, kWmMouseHWheel); }

bool Peek(Msg* msg, std::uint32_t low, std::uint32_t high, std::uint32_t remove, bool ansi) {
  auto& world = TheWorld();
  auto& queue = world.queue;
  if (world.counted_queue_size != queue.size()) {
    world.mouse_queued = std::count_if(queue.begin(), queue.end(), IsMouse);
    world.counted_queue_size = queue.size();
  }
  const bool mouse_only = low == kWmMouseFirst && high == kWmMouseHWheel;
  if (mouse_only && world.mouse_queued == 0) return false;
  auto found = std::find_if(queue.begin(), queue.end(),
                            [&](const sim::Message& m) { return Arrived(m) && InRange(m.message, low, high); });
  if (found == queue.end()) return false;
  *msg = Msg{found->hwnd, found->message, 0, 0, static_cast<std::uint32_t>(world.now_ms)};
  if (remove & kPmRemove) {
    world.removed.push_back({found->message, ansi});
    world.mouse_queued -= IsMouse(*found);
    queue.erase(found);
    world.counted_queue_size = queue.size();
  }
  return true;
}

bool StartsWith(const std::u16string& s, const std::u16string& prefix) {
  return s.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), s.begin(), [](char16_t a, char16_t b) {
           return sim::FoldCase(a) == sim::FoldCase(b);
         });
}

// What Windows answers for a path the world holds nothing at: a name with a
// wildcard is invalid; a file in a folder that is not there is
// ERROR_PATH_NOT_FOUND (a folder is there when it is an entry, or holds one;
// the current folder and a drive's root always are); otherwise the file is
// not found.
std::uint32_t MissingError(const std::u16string& path) {
  const std::u16string name = path.size() >= 2 && path[1] == u':' ? path.substr(2) : path;
  if (name.find_first_of(u"*?<>|\"") != std::u16string::npos) return kErrorInvalidName;
  const std::size_t slash = path.rfind(u'\\');
  if (slash == std::u16string::npos || (slash == 2 && path[1] == u':')) return kErrorFileNotFound;
  const std::u16string folder = path.substr(0, slash), inside = folder + u'\\';
  const auto& files = TheWorld().files;
  auto entry = files.find(folder);
  if (entry != files.end() && (entry->second.attributes & kFileAttributeDirectory) != 0) return kErrorFileNotFound;
  auto next = files.lower_bound(inside);
  return next != files.end() && StartsWith(next->first, inside) ? kErrorFileNotFound : kErrorPathNotFound;
}

// The window behind a handle, if it exists now.
const sim::TopWindow* FindTopWindow(Window window) {
  auto& world = TheWorld();
  const auto handle = static_cast<std::uintptr_t>(window);
  const std::uintptr_t first = static_cast<std::uintptr_t>(sim::TopWindowHandle(0));
  if (handle < first || (handle - first) % 4 != 0 || (handle - first) / 4 >= world.top_windows.size()) return nullptr;
  const sim::TopWindow& w = world.top_windows[(handle - first) / 4];
  return w.shown_ms <= world.now_ms && world.now_ms < w.closed_ms ? &w : nullptr;
}

// A name of kMaxPath characters or more fills the field with no terminator.
void FillEntry(const std::u16string& image, ProcessEntry* entry) {
  std::memset(entry->szExeFile, 0, sizeof entry->szExeFile);
  const std::size_t n = std::min<std::size_t>(image.size(), kMaxPath);
  std::copy_n(image.begin(), n, entry->szExeFile);
}

bool NextEntry(Handle snapshot, ProcessEntry* entry, bool first) {
  auto& world = TheWorld();
  const auto id = static_cast<std::uintptr_t>(snapshot);
  auto found = world.snapshots.find(id);
  if (found == world.snapshots.end()) {
    world.last_error = kErrorInvalidHandle;
    return false;
  }
  if (entry->dwSize != kProcessEntrySize) {
    world.last_error = kErrorBadLength;
    return false;
  }
  sim::World::Snapshot& snap = found->second;
  if (first) snap.next = 0;
  if (snap.next >= snap.entries.size()) {
    world.last_error = kErrorNoMoreFiles;
    return false;
  }
  const auto& [image, process_id] = snap.entries[snap.next++];
  FillEntry(image, entry);
  entry->th32ProcessID = process_id;
  return true;
}

}  // namespace

namespace {

std::int32_t OpenKey(Key key, const char16_t* sub_key, std::uint32_t options, std::uint32_t sam, Key* result) {
  auto& world = TheWorld();
  if (world.Enter(Call::RegOpenKeyExW)) return static_cast<std::int32_t>(kErrorAccessDenied);
  if (options != 0) return kErrorInvalidParameter;  // only REG_OPTION_OPEN_LINK exists, and it is not for us
  const std::u16string base = PathOf(key);
  if (base.empty()) return static_cast<std::int32_t>(kErrorInvalidHandle);
  const std::u16string sub = sub_key ? sub_key : u"";
  if (!sub.empty() && sub.front() == u'\\') return kErrorBadPathname;
  // Windows 2000 has no registry views.
  if ((sam & kKeyWow64Flags) != 0 && world.version.major == 5 && world.version.minor == 0)
    sim::Unmodelled("RegOpenKeyExW with a registry view on Windows 2000");
  const std::u16string path = Viewed(sub.empty() ? base : base + u"\\" + sub, sam);
  auto found = world.keys.find(path);
  // HKCR is the machine's classes merged with the user's, the user's first.
  if (base == u"HKCR" && !sub.empty()) {
    auto users = world.keys.find(u"HKCU\\Software\\Classes\\" + sub);
    if (users != world.keys.end()) found = users;
  }
  if (found == world.keys.end()) return static_cast<std::int32_t>(kErrorFileNotFound);
  if ((sam & ~kKeyWow64Flags & ~found->second.granted) != 0) return static_cast<std::int32_t>(kErrorAccessDenied);
  const std::uintptr_t handle = world.NewHandle(HandleKind::Key);
  world.key_paths[handle] = found->first;
  *result = static_cast<Key>(handle);
  return kErrorSuccess;
}

std::int32_t QueryValue(Key key, const char16_t* value_name, std::uint32_t* reserved, std::uint32_t* type,
                        std::uint8_t* data, std::uint32_t* data_size) {
  auto& world = TheWorld();
  const bool fail = world.Enter(Call::RegQueryValueExW);
  if (reserved != nullptr) return kErrorInvalidParameter;
  auto path = world.key_paths.find(static_cast<std::uintptr_t>(key));
  if (path == world.key_paths.end()) return static_cast<std::int32_t>(kErrorInvalidHandle);
  auto& values = world.keys[path->second].values;
  auto found = values.find(value_name ? value_name : u"");
  if (found == values.end()) return static_cast<std::int32_t>(kErrorFileNotFound);
  sim::RegistryValue& value = found->second;
  const auto size = static_cast<std::uint32_t>(value.data.size());

  if (data == nullptr) {
    if (fail) return static_cast<std::int32_t>(kErrorFileNotFound);
    if (type) *type = value.type;
    if (data_size) *data_size = value.reported_size.value_or(size);
    if (value.size_query_error != 0) return value.size_query_error;
    if (value.after_size_query) value.data = *std::exchange(value.after_size_query, std::nullopt);
    return kErrorSuccess;
  }
  if (type) *type = value.type;
  if (fail || *data_size < size) {  // a fault here is the value having grown since the size query
    *data_size = fail ? size + 2 : size;
    return static_cast<std::int32_t>(kErrorMoreData);
  }
  std::copy(value.data.begin(), value.data.end(), data);
  // Windows terminates string data when the count seems to leave room. The
  // unsigned test is Windows' own: an odd count of 1 passes it.
  const bool is_text = value.type == kRegSz || value.type == kRegExpandSz;
  if (is_text && size <= *data_size - 2u) {
    data[size] = 0;
    data[size + 1] = 0;
  }
  *data_size = size;
  return kErrorSuccess;
}

}  // namespace

namespace {

void Log(sim::RegistryCall call) {
  auto& world = TheWorld();
  world.registry_log.push_back(std::move(call));
  if (world.on_registry_call) world.on_registry_call(world.registry_log.back());
}

}  // namespace

// The registry calls and association queries are logged as made.
std::int32_t RegOpenKeyExW(Key key, const char16_t* sub_key, std::uint32_t options, std::uint32_t sam, Key* result) {
  sim::InPlatform scope;
  const std::int32_t status = OpenKey(key, sub_key, options, sam, result);
  sim::RegistryCall logged(Call::RegOpenKeyExW);
  logged.base = key;
  logged.opened = status == kErrorSuccess ? *result : kNoKey;
  logged.name = sub_key ? sub_key : u"";
  logged.access = sam;
  logged.status = status;
  Log(std::move(logged));
  return status;
}

std::int32_t RegQueryValueExW(Key key, const char16_t* value_name, std::uint32_t* reserved, std::uint32_t* type,
                              std::uint8_t* data, std::uint32_t* data_size) {
  sim::InPlatform scope;
  const std::int32_t status = QueryValue(key, value_name, reserved, type, data, data_size);
  sim::RegistryCall logged(Call::RegQueryValueExW);
  logged.base = key;
  logged.name = value_name ? value_name : u"";
  logged.status = status;
  logged.with_data = data != nullptr;
  logged.type = type ? *type : 0;
  logged.size = data_size ? *data_size : 0;
  if (data && data_size && status == kErrorSuccess) logged.data.assign(data, data + *data_size);
  Log(std::move(logged));
  return status;
}

std::int32_t RegCloseKey(Key key) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const bool fail = world.Enter(Call::RegCloseKey);
  if (!world.Release(static_cast<std::uintptr_t>(key), {HandleKind::Key}, "RegCloseKey")) {
    return static_cast<std::int32_t>(kErrorInvalidHandle);
  }
  return fail ? static_cast<std::int32_t>(kErrorInvalidHandle) : kErrorSuccess;  // closed all the same
}

bool GetVersionExW(OsVersionInfo* info) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::GetVersionExW) || world.version_fails || info->dwOSVersionInfoSize != kOsVersionInfoSize) {
    world.last_error = kErrorInsufficientBuffer;
    return false;
  }
  info->dwMajorVersion = world.version.major;
  info->dwMinorVersion = world.version.minor;
  info->dwBuildNumber = world.version.build;
  return true;
}

std::uint32_t GetFileAttributesW(const char16_t* path) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::GetFileAttributesW)) {
    world.last_error = kErrorAccessDenied;
    return kInvalidFileAttributes;
  }
  auto found = world.files.find(path);
  if (found == world.files.end() || found->second.attributes_error != 0) {
    world.last_error = found == world.files.end() ? MissingError(path) : found->second.attributes_error;
    return kInvalidFileAttributes;
  }
  return found->second.attributes;
}

std::uint32_t GetLastError() {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::GetLastError)) return 31;  // ERROR_GEN_FAILURE: an error nobody expects
  return world.last_error;
}

Handle FindFirstFileW(const char16_t* path, FindData* data) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  auto found = world.files.find(path);
  if (world.Enter(Call::FindFirstFileW) || found == world.files.end() || !found->second.listed) {
    world.last_error = found == world.files.end() ? MissingError(path) : kErrorFileNotFound;
    return kInvalidHandle;
  }
  data->dwFileAttributes = found->second.attributes;
  return static_cast<Handle>(world.NewHandle(HandleKind::Find));
}

bool FindClose(Handle find) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const bool fail = world.Enter(Call::FindClose);
  return world.Release(static_cast<std::uintptr_t>(find), {HandleKind::Find}, "FindClose") && !fail;
}

Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share, void* security,
                   std::uint32_t disposition, std::uint32_t flags, Handle template_file) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  auto found = world.files.find(path);
  const bool as_expected = access == kGenericRead && share == kFileShareRead && security == nullptr &&
                           disposition == kOpenExisting && flags == 0 && template_file == kNoHandle;
  if (!as_expected) sim::Unmodelled("CreateFileW");  // only the launcher's own open is modelled
  if (world.Enter(Call::CreateFileW) || found == world.files.end() || found->second.open_error != 0) {
    world.last_error = found == world.files.end()      ? MissingError(path)
                       : found->second.open_error != 0 ? found->second.open_error
                                                       : kErrorAccessDenied;
    return kInvalidHandle;
  }
  return static_cast<Handle>(world.NewHandle(HandleKind::File));
}

bool CloseHandle(Handle handle) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const bool fail = world.Enter(Call::CloseHandle);
  const auto kernel_kinds = {HandleKind::File, HandleKind::Snapshot, HandleKind::Process};
  return world.Release(static_cast<std::uintptr_t>(handle), kernel_kinds, "CloseHandle") && !fail;
}

Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::CreateToolhelp32Snapshot) || world.snapshot_fails || flags != kSnapProcess) {
    world.last_error = kErrorAccessDenied;
    return kInvalidHandle;
  }
  std::vector<std::pair<std::u16string, std::uint32_t>> entries;
  for (std::size_t i = 0; i < world.processes.size(); ++i) {
    const sim::Process& p = world.processes[i];
    const std::uint32_t id = p.id != 0 ? p.id : static_cast<std::uint32_t>(10000 + 4 * i);
    if (p.start_ms <= world.now_ms && world.now_ms < p.exit_ms) entries.emplace_back(p.image, id);
  }
  const std::uintptr_t handle = world.NewHandle(HandleKind::Snapshot);
  world.snapshots[handle].entries = std::move(entries);
  return static_cast<Handle>(handle);
}

bool Process32FirstW(Handle snapshot, ProcessEntry* entry) {
  sim::InPlatform scope;
  if (TheWorld().Enter(Call::Process32FirstW)) {
    TheWorld().last_error = kErrorNoMoreFiles;
    return false;
  }
  return NextEntry(snapshot, entry, true);
}

bool Process32NextW(Handle snapshot, ProcessEntry* entry) {
  sim::InPlatform scope;
  if (TheWorld().Enter(Call::Process32NextW)) {
    TheWorld().last_error = kErrorNoMoreFiles;
    return false;
  }
  return NextEntry(snapshot, entry, false);
}

void Sleep(std::uint32_t milliseconds) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  world.Enter(Call::Sleep);  // cannot fail
  world.now_ms += milliseconds;
  if (world.now_ms > world.clock_cap_ms) throw sim::Runaway();
}

bool ShellExecuteExW(ShellExecuteInfo* info) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const bool fail = world.Enter(Call::ShellExecuteExW);
  world.launches.push_back({info->cbSize, info->fMask, info->hwnd, Copy(info->lpVerb), Copy(info->lpFile),
                            Copy(info->lpParameters), Copy(info->lpDirectory), info->nShow, world.now_ms});
  const bool no_program = info->lpFile == nullptr || info->lpFile[0] == 0;  // refused, as Windows does
  if (fail || !world.shell_accepts || no_program || info->cbSize != kShellExecuteInfoSize) {
    world.last_error = kErrorFileNotFound;
    info->hInstApp = static_cast<Instance>(2);  // SE_ERR_FNF
    return false;
  }
  info->hInstApp = static_cast<Instance>(42);
  if (world.started_process) {
    sim::Process started = *world.started_process;
    started.start_ms += world.now_ms;
    if (started.exit_ms != sim::kForever) started.exit_ms += world.now_ms;
    world.processes.push_back(started);
  }
  const bool wants_handle = (info->fMask & kSeeMaskNoCloseProcess) != 0;
  info->hProcess = (wants_handle && world.returns_process_handle)
                       ? static_cast<Handle>(world.NewHandle(HandleKind::Process))
                       : kNoHandle;
  return true;
}

// What the shell answers from the class it honours for http links.
sim::ShellAnswer HonouredClass(const sim::World& world, std::uint32_t what) {
  auto command = world.keys.find(u"HKCR\\" + world.shell_class + u"\\shell\\open\\command");
  if (command == world.keys.end()) return {u"", sim::kHresultNoAssociation};
  auto value = command->second.values.find(u"");
  if (value == command->second.values.end()) return {u"", sim::kHresultNoAssociation};
  if (what == kAssocStrProgId) return {world.shell_class};
  return {sim::FromUtf16(value->second.data.data(), value->second.data.size())};
}

std::int32_t AssocQueryStringW(std::uint32_t flags, std::uint32_t what, const char16_t* assoc, const char16_t* extra,
                               char16_t* out, std::uint32_t* out_chars) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const bool fail = world.Enter(Call::AssocQueryStringW);
  const std::uint32_t flags_modelled = kAssocfIsProtocol | (out != nullptr ? kAssocfNoTruncate : 0);
  if (flags != flags_modelled || Copy(assoc) != u"http" || Copy(extra) != u"open" || out_chars == nullptr ||
      (what != kAssocStrCommand && what != kAssocStrProgId))
    sim::Unmodelled("AssocQueryStringW");
  const std::int32_t status = [&] {
    auto found = world.shell_answers.find(what);
    if (fail) return sim::kHresultFail;
    sim::ShellAnswer answer = found != world.shell_answers.end() ? found->second : HonouredClass(world, what);
    if (answer.status != kSOk) return answer.status;
    const auto needed = static_cast<std::uint32_t>(answer.text.size() + 1);
    if (out == nullptr) {
      *out_chars = answer.reported_chars != 0 ? answer.reported_chars : needed;
      return kSFalse;
    }
    if (*out_chars < needed) {  // with ASSOCF_NOTRUNCATE
      *out_chars = needed;
      return sim::kHresultPointer;
    }
    std::copy(answer.text.begin(), answer.text.end(), out);
    out[answer.text.size()] = 0;
    *out_chars = needed;
    return kSOk;
  }();
  sim::RegistryCall logged(Call::AssocQueryStringW);
  logged.access = what;
  logged.status = status;
  logged.with_data = out != nullptr;
  logged.size = *out_chars;
  if (out && status == kSOk) logged.text.assign(out, *out_chars - 1);
  Log(std::move(logged));
  return status;
}

Instance ShellExecuteW(Window owner, const char16_t* verb, const char16_t* file, const char16_t* parameters,
                       const char16_t* directory, std::int32_t show) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const bool fail = world.Enter(Call::ShellExecuteW);
  world.opens.push_back({owner, Copy(verb), Copy(file), Copy(parameters), Copy(directory), show, world.now_ms});
  return static_cast<Instance>(fail ? 2 : 42);  // a value above 32 means success
}

bool PeekMessageW(Msg* msg, Window, std::uint32_t low, std::uint32_t high, std::uint32_t remove) {
  sim::InPlatform scope;
  if (TheWorld().Enter(Call::PeekMessageW)) return false;
  return Peek(msg, low, high, remove, false);
}

bool PeekMessageA(Msg* msg, Window, std::uint32_t low, std::uint32_t high, std::uint32_t remove) {
  sim::InPlatform scope;
  if (TheWorld().Enter(Call::PeekMessageA)) return false;
  return Peek(msg, low, high, remove, true);
}

bool IsWindowUnicode(Window window) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::IsWindowUnicode)) return false;
  auto found = world.windows.find(window);
  return found != world.windows.end() && found->second;
}

constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;

bool EnumWindows(EnumWindowsProc callback, void* context) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const auto& fails = world.enum_windows_fails;
  if (world.Enter(Call::EnumWindows) || (fails.from_ms <= world.now_ms && world.now_ms < fails.until_ms)) {
    world.last_error = kErrorAccessDenied;
    return false;
  }
  for (std::size_t i = 0; i < world.top_windows.size(); ++i) {
    const Window window = sim::TopWindowHandle(i);
    if (FindTopWindow(window) == nullptr) continue;
    sim::InPlatform::Leave outside;  // the callback is the caller's code
    if (!callback(window, context)) return false;
  }
  return true;
}

std::uint32_t GetWindowThreadProcessId(Window window, std::uint32_t* process_id) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const sim::TopWindow* found = FindTopWindow(window);
  if (world.Enter(Call::GetWindowThreadProcessId) || found == nullptr) {
    world.last_error = kErrorInvalidWindowHandle;
    return 0;
  }
  if (process_id != nullptr) *process_id = found->process_id;
  return found->process_id + 1;  // a thread id, never 0
}

bool IsWindowVisible(Window window) {
  sim::InPlatform scope;
  const sim::TopWindow* found = FindTopWindow(window);
  return !TheWorld().Enter(Call::IsWindowVisible) && found != nullptr && found->visible;
}

Window GetWindow(Window window, std::uint32_t command) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const sim::TopWindow* found = FindTopWindow(window);
  if (world.Enter(Call::GetWindow) || found == nullptr || command != kGwOwner) {
    world.last_error = kErrorInvalidWindowHandle;
    return kNoWindow;
  }
  return found->owner;
}

std::int32_t GetWindowLongW(Window window, std::int32_t index) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const sim::TopWindow* found = FindTopWindow(window);
  if (world.Enter(Call::GetWindowLongW) || found == nullptr || index != kGwlExStyle) {
    world.last_error = kErrorInvalidWindowHandle;
    return 0;
  }
  return found->tool ? static_cast<std::int32_t>(kWsExToolWindow) : 0;
}

// The doctor's questions about the machine: a 32-bit program on the world's machine.
bool IsWow64Process2(Handle process, std::uint16_t* process_machine, std::uint16_t* native_machine) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (!world.has_is_wow64_process2) {
    world.last_error = kErrorProcNotFound;
    return false;
  }
  if (world.Enter(Call::IsWow64Process2) || process != kCurrentProcess) {
    world.last_error = kErrorAccessDenied;
    return false;
  }
  *process_machine = world.native_machine == kMachineI386 ? kMachineUnknown : kMachineI386;
  if (native_machine) *native_machine = world.native_machine;
  return true;
}

bool IsWow64Process(Handle process, bool* wow64) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (!world.has_is_wow64_process) {
    world.last_error = kErrorProcNotFound;
    return false;
  }
  if (world.Enter(Call::IsWow64Process) || process != kCurrentProcess) {
    world.last_error = kErrorAccessDenied;
    return false;
  }
  *wow64 = world.native_machine != kMachineI386;
  return true;
}

bool GetNativeSystemInfo(SystemInfo* info) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (!world.has_native_system_info) return false;
  world.Enter(Call::GetNativeSystemInfo);  // it cannot fail
  *info = SystemInfo{};
  switch (world.native_machine) {
    case kMachineAmd64:
      info->wProcessorArchitecture = kProcessorAmd64;
      break;
    case kMachineArm64:
      info->wProcessorArchitecture = kProcessorArm64;
      break;
    case kMachineArmNt:
      info->wProcessorArchitecture = kProcessorArm;
      break;
    default:
      info->wProcessorArchitecture = kProcessorIntel;
  }
  return true;
}

namespace {

const sim::VersionResource* VersionResourceOf(const char16_t* file, std::uint32_t* error) {
  auto& world = TheWorld();
  *error = 0;
  if (!world.version_dll_loads) {
    *error = kErrorProcNotFound;
    return nullptr;
  }
  auto found = world.version_resources.find(file);
  if (found != world.version_resources.end()) return &found->second;
  *error = world.files.count(file) != 0 ? sim::kErrorResourceTypeNotFound : kErrorFileNotFound;
  return nullptr;
}

}  // namespace

std::uint32_t GetFileVersionInfoSizeW(const char16_t* file, std::uint32_t* handle) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  std::uint32_t error = 0;
  const sim::VersionResource* resource = VersionResourceOf(file, &error);
  if (world.Enter(Call::GetFileVersionInfoSizeW)) error = kErrorAccessDenied;
  if (handle) *handle = 0;
  if (error != 0) {
    world.last_error = error;
    return 0;
  }
  return resource->reported_size.value_or(static_cast<std::uint32_t>(resource->block.size()));
}

// Copies as much of the block as fits, as Windows does.
bool GetFileVersionInfoW(const char16_t* file, std::uint32_t, std::uint32_t size, void* data) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  std::uint32_t error = 0;
  const sim::VersionResource* resource = VersionResourceOf(file, &error);
  if (world.Enter(Call::GetFileVersionInfoW)) error = kErrorAccessDenied;
  if (error != 0) {
    world.last_error = error;
    return false;
  }
  std::memcpy(data, resource->block.data(), std::min<std::size_t>(size, resource->block.size()));
  world.version_blocks[data] = resource;
  return true;
}

bool VerQueryValueW(const void* block, const char16_t* sub_block, const void** buffer, std::uint32_t* length) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  auto resource = world.version_blocks.find(block);
  if (resource == world.version_blocks.end())
    sim::Unmodelled("VerQueryValueW on a block GetFileVersionInfoW did not fill");
  if (world.Enter(Call::VerQueryValueW)) return false;
  auto found = resource->second->values.find(sub_block);
  if (found == resource->second->values.end()) return false;
  *buffer = static_cast<const std::uint8_t*>(block) + found->second.offset;
  *length = found->second.length;
  return true;
}

}  // namespace platform
