#include "tests/sim/world.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace sim {

const char* NameOf(Call call) {
  // clang-format off
  static const char* const names[] = {
      "RegOpenKeyExW", "RegQueryValueExW", "RegCloseKey", "GetVersionExW", "GetFileAttributesW", "GetLastError",
      "FindFirstFileW", "FindClose", "CreateFileW", "CloseHandle", "CreateToolhelp32Snapshot", "Process32FirstW",
      "Process32NextW", "Sleep", "ShellExecuteExW", "ShellExecuteW", "PeekMessageW", "PeekMessageA",
      "IsWindowUnicode", "EnumWindows", "GetWindowThreadProcessId", "IsWindowVisible", "GetWindow",
      "GetWindowLongW", "AssocQueryStringW", "IsWow64Process2", "IsWow64Process", "GetNativeSystemInfo",
      "GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW", "WriteFile", "ReadFile",
      "FlushFileBuffers", "GetFileAttributesExW", "MoveFileExW", "ReplaceFileW", "DeleteFileW", "CreateDirectoryW",
      "RemoveDirectoryW", "FindNextFileW", "GetDiskFreeSpaceExW", "RegCreateKeyExW", "RegSetValueExW",
      "RegDeleteValueW", "RegEnumValueW", "SHDeleteKeyW",
  };
  // clang-format on
  return names[static_cast<int>(call)];
}

void Unmodelled(const char* call) {
  std::fprintf(stderr, "simulated Windows: %s called with arguments it does not model\n", call);
  std::abort();
}

bool CaseLess::operator()(const std::u16string& a, const std::u16string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return FoldCase(x) < FoldCase(y); });
}

void World::SetRaw(const std::u16string& key, const std::u16string& name, std::uint32_t type,
                   std::vector<std::uint8_t> data) {
  RegistryValue& value = keys[key].values[name];
  value.type = type;
  value.data = std::move(data);
}

void World::SetString(const std::u16string& key, const std::u16string& name, const std::u16string& text,
                      std::uint32_t type) {
  SetRaw(key, name, type, Utf16(text + u'\0'));
}

VersionResource VersionResource::Of(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& translations,
                                    const std::vector<std::pair<std::u16string, std::u16string>>& strings) {
  VersionResource resource;
  auto& block = resource.block;
  const auto put16 = [&](std::uint16_t unit) {
    block.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    block.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  if (!translations.empty()) {
    resource.values[u"\\VarFileInfo\\Translation"] = {0, static_cast<std::uint32_t>(4 * translations.size())};
    for (const auto& [language, code_page] : translations) {
      put16(language);
      put16(code_page);
    }
  }
  for (const auto& [name, text] : strings) {
    resource.values[name] = {block.size(), static_cast<std::uint32_t>(text.size() + 1)};
    for (char16_t c : text) put16(c);
    put16(0);
  }
  return resource;
}

void Machine::InstallIn(World& world) const {
  world.version = version;
  world.native_machine = native_machine;
  world.has_is_wow64_process2 = has_is_wow64_process2;
  const std::u16string wow64_copy = u"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion";
  const auto put = [&](const char16_t* name, const char16_t* text, const char16_t* older) {
    if (text == nullptr) return;
    world.SetString(kCurrentVersionKey, name, text);
    world.SetString(wow64_copy, name, older ? older : text);
  };
  put(u"ProductName", product_name, nullptr);
  put(u"DisplayVersion", display_version, u"21H2");
  put(u"ReleaseId", release_id, nullptr);
  put(u"CurrentBuildNumber", current_build, nullptr);
  if (ubr) {
    const auto dword = [](std::uint32_t n) {
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                       static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
    };
    world.SetRaw(kCurrentVersionKey, u"UBR", kRegDword, dword(*ubr));
    world.SetRaw(wow64_copy, u"UBR", kRegDword, dword(1));
  }
}

std::uintptr_t World::NewHandle(HandleKind kind) {
  const std::uintptr_t handle = next_handle;
  next_handle += 4;
  open_handles[handle] = kind;
  return handle;
}

bool World::Release(std::uintptr_t handle, std::initializer_list<HandleKind> kinds, const char* closer) {
  auto found = open_handles.find(handle);
  if (found == open_handles.end() || std::find(kinds.begin(), kinds.end(), found->second) == kinds.end()) {
    handle_errors.push_back(std::string(closer) + " on a handle that is not an open one of its kind");
    return false;
  }
  open_handles.erase(found);
  key_paths.erase(handle);
  snapshots.erase(handle);
  return true;
}

bool World::Enter(Call call) {
  calls.push_back(call);
  // Past a kill nothing happens: every call fails before it acts, as if the process were gone.
  if (stop_after != 0 && calls.size() > stop_after) return true;
  return fail_call != 0 && calls.size() == fail_call;
}

bool World::Killed() const { return stop_after != 0 && calls.size() > stop_after; }

void World::PowerCut() {
  for (auto& [path, file] : disk) {
    const std::size_t size = file.bytes.size();
    file.bytes = file.durable;
    file.bytes.resize(size, 0);
  }
  EndProcess();
}

void World::EndProcess() {
  for (const auto& [handle, _] : disk_handles) open_handles.erase(handle);
  for (const auto& [handle, _] : disk_finds) open_handles.erase(handle);
  for (auto it = key_paths.begin(); it != key_paths.end();) {
    open_handles.erase(it->first);
    it = key_paths.erase(it);
  }
  disk_handles.clear();
  disk_finds.clear();
  stop_after = 0;
}

std::size_t World::CountOf(Call call) const { return std::count(calls.begin(), calls.end(), call); }

World& TheWorld() {
  static World world;
  return world;
}

void Reset() { TheWorld() = World(); }

namespace {
int platform_depth = 0;
}  // namespace

InPlatform::InPlatform() { ++platform_depth; }
InPlatform::~InPlatform() { --platform_depth; }
InPlatform::Leave::Leave() : depth(std::exchange(platform_depth, 0)) {}
InPlatform::Leave::~Leave() { platform_depth = depth; }
bool InsidePlatform() { return platform_depth > 0; }

}  // namespace sim
