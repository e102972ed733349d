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
      "GetWindowLongW", "AssocQueryStringW",
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
  return fail_call != 0 && calls.size() == fail_call;
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
