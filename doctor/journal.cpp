#include "doctor/journal.h"

#include <map>

namespace doctor::journal {

using platform::Key;

namespace {

std::vector<Entry> entries;
int paused = 0;                           // NotJournaled scopes alive
std::map<Key, std::u16string> key_paths;  // every key opened, by handle; a reused handle gets its new path

std::u16string PathOf(Key key) {
  if (key == platform::kCurrentUser) return u"HKCU";
  if (key == platform::kClassesRoot) return u"HKCR";
  auto found = key_paths.find(key);
  return found != key_paths.end() ? found->second : u"(unknown key)";
}

std::u16string Copy(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

}  // namespace

const std::vector<Entry>& Entries() { return entries; }

NotJournaled::NotJournaled() { ++paused; }
NotJournaled::~NotJournaled() { --paused; }

void Clear() {
  entries.clear();
  key_paths.clear();
}

void RecordKeyOpen(Key base, const char16_t* sub_key, std::uint32_t rights, std::int32_t status, Key opened) {
  if (paused > 0) return;
  Entry e(Kind::KeyOpen);
  e.status = status;
  e.rights = rights;
  const std::u16string sub = Copy(sub_key);
  e.path = sub.empty() ? PathOf(base) : PathOf(base) + u"\\" + sub;
  if (status == platform::kErrorSuccess) key_paths[opened] = e.path;
  entries.push_back(std::move(e));
}

void RecordValueQuery(Key key, const char16_t* value_name, std::int32_t status, const std::uint32_t* type,
                      const std::uint8_t* data, const std::uint32_t* data_size) {
  if (paused > 0) return;
  Entry e(Kind::ValueQuery);
  e.status = status;
  e.path = PathOf(key);
  e.name = Copy(value_name);
  e.with_buffer = data != nullptr;
  e.type = type ? *type : 0;
  e.size = data_size ? *data_size : 0;
  if (status == platform::kErrorSuccess && data && (e.type == platform::kRegSz || e.type == platform::kRegExpandSz)) {
    for (std::size_t i = 0; i < e.size / 2; ++i) {
      const auto c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
      if (c == 0) break;
      e.text += c;
    }
  }
  entries.push_back(std::move(e));
}

void RecordShellQuery(std::uint32_t what, std::int32_t status, const char16_t* out, const std::uint32_t* out_chars) {
  Entry e(Kind::ShellQuery);
  e.status = status;
  e.rights = what;
  e.with_buffer = out != nullptr;
  e.size = out_chars ? *out_chars : 0;
  if (status == platform::kSOk && out)
    for (std::uint32_t i = 0; i < e.size && out[i] != 0; ++i) e.text += out[i];
  entries.push_back(std::move(e));
}

}  // namespace doctor::journal
