// A small registry reader: a root, at most one open current key, and reads
// of text values. Only ReadString throws; the key operations answer false.
#pragma once

#include <exception>
#include <utility>

#include "platform/unique_handle.h"
#include "text/text.h"

namespace browser {

class ERegistryException : public std::exception {
 public:
  explicit ERegistryException(text::Text message) : message_(std::move(message)) {}
  const text::Text& Message() const { return message_; }
  const char* what() const noexcept override { return "registry read failed"; }

 private:
  text::Text message_;
};

class TRegistry {
 public:
  // What a ReadString's last call saw: the size query, or the read of the data.
  struct ValueRead {
    bool with_buffer = false;  // the read, not the size query
    std::int32_t status = 0;   // the call's Windows error code
    std::uint32_t type = 0, size = 0;
  };

  // Rights asked for by KeyExists: enough to prove the key is there.
  static constexpr std::uint32_t kProbeRights =
      platform::kStandardRightsRead | platform::kKeyQueryValue | platform::kKeyEnumerateSubKeys;
  // Rights asked for by OpenKey. Read-only: keys under HKCR are often only
  // readable for standard users, and this reader never writes.
  static constexpr std::uint32_t kOpenRights = platform::kKeyRead;

  platform::Key RootKey() const { return root_; }
  // Moving to another root closes the current key.
  void SetRootKey(platform::Key root);

  bool KeyExists(text::View path) const;
  bool OpenKey(text::View path);
  // Reads a text value of the current key; an empty name is the default
  // value. Missing or empty data, or a size query that fails for any
  // reason, reads as empty text.
  text::Text ReadString(text::View name) const;
  void CloseKey() { current_.reset(); }
  // The Windows error of the last KeyExists or OpenKey that answered false.
  std::int32_t LastOpenError() const { return last_open_error_; }
  const ValueRead& LastRead() const { return last_read_; }

 private:
  // Path rule: a leading backslash means "from the root"; anything else is
  // relative to the current key when one is open.
  platform::Key BaseFor(text::View path, text::View* relative) const;
  bool Open(text::View path, std::uint32_t rights, platform::UniqueKey* key) const;

  platform::Key root_ = platform::kCurrentUser;
  platform::UniqueKey current_;
  mutable std::int32_t last_open_error_ = platform::kErrorSuccess;
  mutable ValueRead last_read_;
};

}  // namespace browser
