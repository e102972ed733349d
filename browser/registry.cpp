#include "browser/registry.h"

#include <cstdint>
#include <memory>

namespace browser {

using text::Text;
using text::View;

namespace {

constexpr char16_t kFailedToGetData[] = u"Failed to get data for '%s'";
constexpr char16_t kInvalidDataType[] = u"Invalid data type for '%s'";

[[noreturn]] void Raise(View format, View value_name) {
  throw ERegistryException(text::ReplaceAll(format, u"%s", value_name));
}

}  // namespace

void TRegistry::SetRootKey(platform::Key root) {
  if (root != root_) CloseKey();
  root_ = root;
}

platform::Key TRegistry::BaseFor(View path, View* relative) const {
  if (!path.empty() && path.front() == u'\\') {
    *relative = path.substr(1);
    return root_;
  }
  *relative = path;
  return current_ ? current_.get() : root_;
}

bool TRegistry::Open(View path, std::uint32_t rights, platform::UniqueKey* key) const {
  View relative;
  platform::Key base = BaseFor(path, &relative);
  Text sub_key(relative);  // the call wants a terminated string
  platform::Key opened = platform::kNoKey;
  const std::int32_t status = platform::RegOpenKeyExW(base, sub_key.c_str(), 0, rights, &opened);
  if (status != platform::kErrorSuccess) {
    last_open_error_ = status;
    return false;
  }
  key->reset(opened);
  return true;
}

bool TRegistry::KeyExists(View path) const {
  platform::UniqueKey probe;
  return Open(path, kProbeRights, &probe);
}

bool TRegistry::OpenKey(View path) {
  platform::UniqueKey opened;
  if (!Open(path, kOpenRights, &opened)) return false;
  current_ = std::move(opened);
  return true;
}

Text TRegistry::ReadString(View name) const {
  const Text value_name(name);
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  const std::int32_t queried =
      platform::RegQueryValueExW(current_.get(), value_name.c_str(), nullptr, &type, nullptr, &size);
  last_read_ = {false, queried, type, size};
  if (queried != platform::kErrorSuccess || size == 0) return Text();

  // Room for one more character, and the whole buffer is declared to the
  // call: with a bare odd size Windows' own terminator can land past the end.
  const std::uint32_t chars = size / 2;
  if (chars + 1 > UINT32_MAX / 2) {  // the buffer's size would not fit the call's count
    Raise(kFailedToGetData, name);
  }
  auto buffer = std::make_unique<char16_t[]>(chars + 1);  // zeroed: a shorter read stays terminated
  std::uint32_t buffer_bytes = (chars + 1) * 2;
  const std::int32_t read = platform::RegQueryValueExW(current_.get(), value_name.c_str(), nullptr, &type,
                                                       reinterpret_cast<std::uint8_t*>(buffer.get()), &buffer_bytes);
  last_read_ = {true, read, type, buffer_bytes};
  if (read != platform::kErrorSuccess) Raise(kFailedToGetData, name);
  if (type != platform::kRegSz && type != platform::kRegExpandSz) {
    Raise(kInvalidDataType, name);
  }
  const View data(buffer.get(), chars);
  return Text(data.substr(0, data.find(u'\0')));
}

}  // namespace browser
