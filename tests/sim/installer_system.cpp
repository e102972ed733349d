// The installer engine's calls over the simulated World's disk and registry.
// Each answers the way Windows does, fails the way Windows reports failure
// when the test injects a fault, and the call after a kill point throws.
#include <algorithm>
#include <cstring>

#include "installer/engine/system.h"
#include "tests/sim/world.h"

namespace installer::sys {

namespace {

using sim::Call;
using sim::HandleKind;
using sim::TheWorld;

constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorDirectory = 267;  // not a folder

std::u16string ParentOf(const std::u16string& path) {
  const std::size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

bool FolderThere(const std::u16string& path) {
  if (path.size() == 2 && path[1] == u':') return true;  // a drive's root
  auto found = TheWorld().disk.find(path);
  return found != TheWorld().disk.end() && found->second.folder;
}

sim::DiskFile* FileAt(const std::u16string& path) {
  auto found = TheWorld().disk.find(path);
  return found == TheWorld().disk.end() ? nullptr : &found->second;
}

bool Fail(std::uint32_t error) {
  TheWorld().last_error = error;
  return false;
}

std::uint64_t Now() { return 116444736000000000ULL + static_cast<std::uint64_t>(TheWorld().now_ms) * 10000; }

bool HasChildren(const std::u16string& folder) {
  const std::u16string inside = folder + u'\\';
  auto next = TheWorld().disk.lower_bound(inside);
  return next != TheWorld().disk.end() && next->first.size() > inside.size() &&
         sim::FoldCaseEqual(next->first.substr(0, inside.size()), inside);
}

}  // namespace

Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t, std::uint32_t disposition) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::CreateFileW)) return Fail(kErrorAccessDenied), kInvalidHandle;
  const std::u16string name = path;
  if (!FolderThere(ParentOf(name))) return Fail(kErrorPathNotFound), kInvalidHandle;
  sim::DiskFile* file = FileAt(name);
  const bool write = (access & kGenericWrite) != 0;
  if (file != nullptr) {
    if (file->folder) return Fail(kErrorAccessDenied), kInvalidHandle;
    if (file->held || (write && file->running)) return Fail(kErrorSharingViolation), kInvalidHandle;
  }
  if (file == nullptr) {
    if (disposition == kOpenExisting) return Fail(kErrorFileNotFound), kInvalidHandle;
    file = &world.disk[name];
    file->written = Now();
  } else if (disposition == kCreateAlways) {
    world.disk_free += file->bytes.size();
    file->bytes.clear();
    file->durable.clear();
    file->written = Now();
  }
  const std::uintptr_t handle = world.NewHandle(HandleKind::File);
  world.disk_handles[handle] = {name, write, 0};
  return static_cast<Handle>(handle);
}

bool WriteFile(Handle file, const void* data, std::uint32_t size, std::uint32_t* written) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  *written = 0;
  auto open = world.disk_handles.find(static_cast<std::uintptr_t>(file));
  if (open == world.disk_handles.end() || !open->second.write) return Fail(kErrorAccessDenied);
  if (world.Enter(Call::WriteFile)) return Fail(kErrorDiskFull);
  sim::DiskFile& target = world.disk[open->second.path];
  const std::size_t end = open->second.position + size;
  const std::uint64_t growth = end > target.bytes.size() ? end - target.bytes.size() : 0;
  if (growth > world.disk_free) return Fail(kErrorDiskFull);
  world.disk_free -= growth;
  if (end > target.bytes.size()) target.bytes.resize(end);
  if (size != 0) std::memcpy(target.bytes.data() + open->second.position, data, size);
  open->second.position = end;
  target.written = Now();
  *written = size;
  return true;
}

bool ReadFile(Handle file, void* data, std::uint32_t size, std::uint32_t* read) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  *read = 0;
  auto open = world.disk_handles.find(static_cast<std::uintptr_t>(file));
  if (open == world.disk_handles.end()) return Fail(kErrorInvalidHandle);
  if (world.Enter(Call::ReadFile)) return Fail(kErrorAccessDenied);
  const std::vector<std::uint8_t>& bytes = world.disk[open->second.path].bytes;
  const std::size_t from = std::min(open->second.position, bytes.size());
  *read = static_cast<std::uint32_t>(std::min<std::size_t>(size, bytes.size() - from));
  if (*read != 0) std::memcpy(data, bytes.data() + from, *read);
  open->second.position = from + *read;
  return true;
}

bool FlushFileBuffers(Handle file) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  auto open = world.disk_handles.find(static_cast<std::uintptr_t>(file));
  if (open == world.disk_handles.end() || !open->second.write) return Fail(kErrorAccessDenied);
  if (world.Enter(Call::FlushFileBuffers)) return Fail(kErrorDiskFull);
  sim::DiskFile& target = world.disk[open->second.path];
  target.durable = target.bytes;
  return true;
}

bool CloseHandle(Handle handle) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const auto id = static_cast<std::uintptr_t>(handle);
  const bool fail = world.Enter(Call::CloseHandle);
  if (!world.Release(id, {HandleKind::File, HandleKind::Find}, "CloseHandle")) return Fail(kErrorInvalidHandle);
  world.disk_handles.erase(id);
  return !fail || Fail(kErrorInvalidHandle);  // closed all the same
}

std::uint32_t GetFileAttributesW(const char16_t* path) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::GetFileAttributesW)) return Fail(kErrorAccessDenied), kInvalidFileAttributes;
  const std::u16string name = path;
  if (FolderThere(name)) return kFileAttributeDirectory;
  return FileAt(name) ? 0x80 : (Fail(kErrorFileNotFound), kInvalidFileAttributes);
}

bool GetFileAttributesExW(const char16_t* path, FileInfo* info) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::GetFileAttributesExW)) return Fail(kErrorAccessDenied);
  const sim::DiskFile* file = FileAt(path);
  if (file == nullptr) return Fail(kErrorFileNotFound);
  *info = {file->folder ? kFileAttributeDirectory : 0x80u, file->bytes.size(), file->written};
  return true;
}

bool MoveFileExW(const char16_t* existing, const char16_t* replacement, std::uint32_t flags) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::MoveFileExW)) return Fail(kErrorAccessDenied);
  const std::u16string from = existing, to = replacement;
  sim::DiskFile* source = FileAt(from);
  if (source == nullptr) return Fail(kErrorFileNotFound);
  if (source->folder) sim::Unmodelled("MoveFileExW of a folder");
  if (source->held) return Fail(kErrorSharingViolation);
  if (!FolderThere(ParentOf(to))) return Fail(kErrorPathNotFound);
  if (sim::DiskFile* target = FileAt(to)) {
    if ((flags & kMoveFileReplaceExisting) == 0) return Fail(kErrorAlreadyExists);
    if (target->folder || target->held || target->running) return Fail(kErrorAccessDenied);
    world.disk_free += target->bytes.size();
  }
  sim::DiskFile moved = *source;  // a rename: name and size are on the disk at once
  world.disk.erase(from);
  world.disk[to] = std::move(moved);
  return true;
}

// The replacement takes the replaced file's name, and the replaced file the
// backup's, each as a rename.
bool ReplaceFileW(const char16_t* replaced, const char16_t* replacement, const char16_t* backup) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::ReplaceFileW)) return Fail(kErrorUnableToRemoveReplaced);
  const std::u16string old_name = replaced, new_name = replacement, backup_name = backup;
  sim::DiskFile *old_file = FileAt(old_name), *new_file = FileAt(new_name);
  if (old_file == nullptr || new_file == nullptr) return Fail(kErrorFileNotFound);
  if (old_file->held) return Fail(kErrorUnableToRemoveReplaced);
  if (new_file->held) return Fail(kErrorUnableToMoveReplacement2);
  if (!FolderThere(ParentOf(backup_name))) return Fail(kErrorUnableToRemoveReplaced);
  if (const sim::DiskFile* existing = FileAt(backup_name)) world.disk_free += existing->bytes.size();
  sim::DiskFile old_copy = *old_file, new_copy = *new_file;
  world.disk.erase(new_name);
  world.disk[backup_name] = std::move(old_copy);
  world.disk[old_name] = std::move(new_copy);
  return true;
}

bool DeleteFileW(const char16_t* path) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::DeleteFileW)) return Fail(kErrorAccessDenied);
  sim::DiskFile* file = FileAt(path);
  if (file == nullptr) return Fail(kErrorFileNotFound);
  if (file->folder || file->running) return Fail(kErrorAccessDenied);
  if (file->held) return Fail(kErrorSharingViolation);
  world.disk_free += file->bytes.size();
  world.disk.erase(path);
  return true;
}

bool CreateDirectoryW(const char16_t* path) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::CreateDirectoryW)) return Fail(kErrorAccessDenied);
  const std::u16string name = path;
  if (FolderThere(name) || FileAt(name)) return Fail(kErrorAlreadyExists);
  if (!FolderThere(ParentOf(name))) return Fail(kErrorPathNotFound);
  world.disk[name].folder = true;
  return true;
}

bool RemoveDirectoryW(const char16_t* path) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::RemoveDirectoryW)) return Fail(kErrorAccessDenied);
  const sim::DiskFile* folder = FileAt(path);
  if (folder == nullptr) return Fail(kErrorFileNotFound);
  if (!folder->folder) return Fail(kErrorDirectory);
  if (HasChildren(path)) return Fail(kErrorDirNotEmpty);
  world.disk.erase(path);
  return true;
}

namespace {

bool NextName(std::uintptr_t find, FindEntry* entry) {
  auto& names = TheWorld().disk_finds[find];
  if (names.empty()) return Fail(kErrorNoMoreFiles);
  const std::u16string path = names.front();
  names.erase(names.begin());
  const std::u16string name = path.substr(path.rfind(u'\\') + 1);
  entry->attributes = TheWorld().disk[path].folder ? kFileAttributeDirectory : 0x80u;
  std::memset(entry->name, 0, sizeof entry->name);
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 259), entry->name);
  return true;
}

}  // namespace

// Only "FOLDER\*" patterns; the entries in the order of their names.
Handle FindFirstFileW(const char16_t* pattern, FindEntry* entry) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::FindFirstFileW)) return Fail(kErrorAccessDenied), kInvalidHandle;
  const std::u16string text = pattern;
  if (text.size() < 2 || text.substr(text.size() - 2) != u"\\*") sim::Unmodelled("FindFirstFileW without FOLDER\\*");
  const std::u16string folder = text.substr(0, text.size() - 2);
  if (!FolderThere(folder)) return Fail(FileAt(folder) ? kErrorDirectory : kErrorPathNotFound), kInvalidHandle;
  std::vector<std::u16string> names;
  const std::u16string inside = folder + u'\\';
  for (const auto& [path, file] : world.disk)
    if (path.size() > inside.size() && sim::FoldCaseEqual(path.substr(0, inside.size()), inside) &&
        path.find(u'\\', inside.size()) == std::u16string::npos)
      names.push_back(path);
  if (names.empty()) return Fail(kErrorFileNotFound), kInvalidHandle;
  const std::uintptr_t find = world.NewHandle(HandleKind::Find);
  world.disk_finds[find] = names;
  NextName(find, entry);
  return static_cast<Handle>(find);
}

bool FindNextFileW(Handle find, FindEntry* entry) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::FindNextFileW)) return Fail(kErrorAccessDenied);
  if (world.disk_finds.count(static_cast<std::uintptr_t>(find)) == 0) return Fail(kErrorInvalidHandle);
  return NextName(static_cast<std::uintptr_t>(find), entry);
}

bool FindClose(Handle find) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const auto id = static_cast<std::uintptr_t>(find);
  const bool fail = world.Enter(Call::FindClose);
  if (!world.Release(id, {HandleKind::Find}, "FindClose")) return Fail(kErrorInvalidHandle);
  world.disk_finds.erase(id);
  return !fail || Fail(kErrorInvalidHandle);
}

bool GetDiskFreeSpaceExW(const char16_t*, std::uint64_t* free_to_caller) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::GetDiskFreeSpaceExW)) return Fail(kErrorAccessDenied);
  *free_to_caller = world.disk_free;
  return true;
}

std::uint32_t GetLastError() {
  sim::InPlatform scope;
  TheWorld().Enter(Call::GetLastError);
  return TheWorld().last_error;
}

void Sleep(std::uint32_t milliseconds) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  world.Enter(Call::Sleep);
  world.now_ms += milliseconds;
  if (world.now_ms > world.clock_cap_ms) throw sim::Runaway();
  for (auto& [path, file] : world.disk) file.held = file.held && world.now_ms < file.let_go_ms;
}

// --- the registry, under HKCU -----------------------------------------------------------
namespace {

std::int32_t OpenOrMake(Key root, const char16_t* sub_key, Key* result, bool make) {
  auto& world = TheWorld();
  if (root != kCurrentUser) sim::Unmodelled("a registry root other than HKCU");
  const std::u16string path = u"HKCU\\" + std::u16string(sub_key);
  if (world.keys.count(path) == 0) {
    if (!make) return static_cast<std::int32_t>(kErrorFileNotFound);
    world.keys[path];
  }
  const std::uintptr_t handle = world.NewHandle(HandleKind::Key);
  world.key_paths[handle] = path;
  *result = static_cast<Key>(handle);
  return 0;
}

constexpr std::int32_t kErrorKeyDeleted = 1018;

// The key a handle names; null when the handle is none (*status: invalid
// handle) or its key was deleted since (*status: key deleted).
sim::RegistryKey* KeyOf(Key key, std::int32_t* status) {
  auto& world = TheWorld();
  auto path = world.key_paths.find(static_cast<std::uintptr_t>(key));
  if (path == world.key_paths.end()) return *status = kErrorInvalidHandle, nullptr;
  auto found = world.keys.find(path->second);
  if (found == world.keys.end()) return *status = kErrorKeyDeleted, nullptr;
  return &found->second;
}

}  // namespace

std::int32_t RegCreateKeyExW(Key root, const char16_t* sub_key, Key* result) {
  sim::InPlatform scope;
  if (TheWorld().Enter(Call::RegCreateKeyExW)) return static_cast<std::int32_t>(kErrorAccessDenied);
  return OpenOrMake(root, sub_key, result, true);
}

std::int32_t RegOpenKeyExW(Key root, const char16_t* sub_key, Key* result) {
  sim::InPlatform scope;
  if (TheWorld().Enter(Call::RegOpenKeyExW)) return static_cast<std::int32_t>(kErrorAccessDenied);
  return OpenOrMake(root, sub_key, result, false);
}

std::int32_t RegQueryValueExW(Key key, const char16_t* name, std::uint32_t* type, std::uint8_t* data,
                              std::uint32_t* size) {
  sim::InPlatform scope;
  const bool fail = TheWorld().Enter(Call::RegQueryValueExW);
  std::int32_t status = 0;
  sim::RegistryKey* opened = KeyOf(key, &status);
  if (opened == nullptr) return status;
  if (fail) return static_cast<std::int32_t>(kErrorAccessDenied);
  auto found = opened->values.find(name);
  if (found == opened->values.end()) return static_cast<std::int32_t>(kErrorFileNotFound);
  const auto stored = static_cast<std::uint32_t>(found->second.data.size());
  *type = found->second.type;
  if (data != nullptr) {
    if (*size < stored) return *size = stored, 234;  // ERROR_MORE_DATA
    std::copy(found->second.data.begin(), found->second.data.end(), data);
  }
  *size = stored;
  return 0;
}

std::int32_t RegSetValueExW(Key key, const char16_t* name, std::uint32_t type, const std::uint8_t* data,
                            std::uint32_t size) {
  sim::InPlatform scope;
  const bool fail = TheWorld().Enter(Call::RegSetValueExW);
  std::int32_t status = 0;
  sim::RegistryKey* opened = KeyOf(key, &status);
  if (opened == nullptr) return status;
  if (fail) return static_cast<std::int32_t>(kErrorAccessDenied);
  sim::RegistryValue& value = opened->values[name];
  value = sim::RegistryValue{};
  value.type = type;
  value.data.assign(data, data + size);
  return 0;
}

std::int32_t RegDeleteValueW(Key key, const char16_t* name) {
  sim::InPlatform scope;
  const bool fail = TheWorld().Enter(Call::RegDeleteValueW);
  std::int32_t status = 0;
  sim::RegistryKey* opened = KeyOf(key, &status);
  if (opened == nullptr) return status;
  if (fail) return static_cast<std::int32_t>(kErrorAccessDenied);
  return opened->values.erase(name) != 0 ? 0 : static_cast<std::int32_t>(kErrorFileNotFound);
}

std::int32_t RegEnumValueW(Key key, std::uint32_t index, char16_t* name, std::uint32_t* name_chars) {
  sim::InPlatform scope;
  const bool fail = TheWorld().Enter(Call::RegEnumValueW);
  std::int32_t status = 0;
  sim::RegistryKey* opened = KeyOf(key, &status);
  if (opened == nullptr) return status;
  if (fail) return static_cast<std::int32_t>(kErrorAccessDenied);
  if (index >= opened->values.size()) return static_cast<std::int32_t>(kErrorNoMoreItems);
  const std::u16string& found = std::next(opened->values.begin(), index)->first;
  if (found.size() + 1 > *name_chars) return 234;
  std::copy(found.begin(), found.end(), name);
  name[found.size()] = 0;
  *name_chars = static_cast<std::uint32_t>(found.size());
  return 0;
}

std::int32_t SHDeleteKeyW(Key root, const char16_t* sub_key) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  if (world.Enter(Call::SHDeleteKeyW)) return static_cast<std::int32_t>(kErrorAccessDenied);
  if (root != kCurrentUser) sim::Unmodelled("a registry root other than HKCU");
  const std::u16string path = u"HKCU\\" + std::u16string(sub_key), inside = path + u'\\';
  bool found = false;
  for (auto it = world.keys.begin(); it != world.keys.end();) {
    const bool under =
        sim::FoldCaseEqual(it->first, path) ||
        (it->first.size() > inside.size() && sim::FoldCaseEqual(it->first.substr(0, inside.size()), inside));
    found = found || under;
    it = under ? world.keys.erase(it) : std::next(it);
  }
  return found ? 0 : static_cast<std::int32_t>(kErrorFileNotFound);
}

std::int32_t RegCloseKey(Key key) {
  sim::InPlatform scope;
  auto& world = TheWorld();
  const bool fail = world.Enter(Call::RegCloseKey);
  if (!world.Release(static_cast<std::uintptr_t>(key), {HandleKind::Key}, "RegCloseKey"))
    return static_cast<std::int32_t>(kErrorInvalidHandle);
  return fail ? static_cast<std::int32_t>(kErrorInvalidHandle) : 0;
}

}  // namespace installer::sys
