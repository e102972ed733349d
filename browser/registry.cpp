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

std::int32_t TRegistry::Open(View path, std::uint32_t rights, platform::UniqueKey* key) const {
  View relative;
  platform::Key base = BaseFor(path, &relative);
  Text sub_key(relative);  // the call wants a terminated string
  platform::Key opened = platform::kNoKey;
  const std::int32_t status = platform::RegOpenKeyExW(base, sub_key.c_str(), 0, rights, &opened);
  if (status == platform::kErrorSuccess) key->reset(opened);
  return status;
}

std::int32_t TRegistry::ProbeKey(View path) const {
  platform::UniqueKey probe;
  return Open(path, kProbeRights, &probe);
}

std::int32_t TRegistry::TryOpenKey(View path) {
  platform::UniqueKey opened;
  const std::int32_t status = Open(path, kOpenRights, &opened);
  if (status == platform::kErrorSuccess) current_ = std::move(opened);
  return status;
}

bool TRegistry::ValueRead::IsText() const {
  return with_buffer && status == platform::kErrorSuccess &&
         (type == platform::kRegSz || type == platform::kRegExpandSz);
}

TRegistry::ValueRead TRegistry::Read(View name) const {
  const Text value_name(name);
  ValueRead seen;
  const std::int32_t queried =
      platform::RegQueryValueExW(current_.get(), value_name.c_str(), nullptr, &seen.type, nullptr, &seen.size);
  seen.status = queried;
  if (queried != platform::kErrorSuccess || seen.size == 0) return seen;

  // Room for one more character, and the whole buffer is declared to the
  // call: with a bare odd size Windows' own terminator can land past the end.
  const std::uint32_t chars = seen.size / 2;
  if (chars + 1 > UINT32_MAX / 2) {  // the buffer's size would not fit the call's count
    seen.too_large = true;
    return seen;
  }
  auto buffer = std::make_unique<char16_t[]>(chars + 1);  // zeroed: a shorter read stays terminated
  std::uint32_t buffer_bytes = (chars + 1) * 2;
  seen.with_buffer = true;
  seen.status = platform::RegQueryValueExW(current_.get(), value_name.c_str(), nullptr, &seen.type,
                                           reinterpret_cast<std::uint8_t*>(buffer.get()), &buffer_bytes);
  seen.size = buffer_bytes;
  if (seen.IsText()) {
    const View data(buffer.get(), chars);
    seen.text = Text(data.substr(0, data.find(u'\0')));
  }
  return seen;
}

Text TRegistry::ReadString(View name) const {
  ValueRead seen = Read(name);
  if (seen.too_large || (seen.with_buffer && seen.status != platform::kErrorSuccess)) Raise(kFailedToGetData, name);
  if (!seen.with_buffer) return Text();
  if (!seen.IsText()) Raise(kInvalidDataType, name);
  return std::move(seen.text);
}

}  // namespace browser
