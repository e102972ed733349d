// A small registry reader: a root, at most one open current key, and reads
// of text values. Only ReadString throws; Read answers all it saw, and the
// key operations answer false (or the Windows error).
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
  // What a read's last call saw: the size query, or the read of the data.
  struct ValueRead {
    bool with_buffer = false;  // the read, not the size query
    std::int32_t status = 0;   // the call's Windows error code
    std::uint32_t type = 0, size = 0;
    bool too_large = false;  // the size query answered more than a read can ask for
    text::Text text;         // a successful read: the data up to its first NUL
    // A successful read of text (REG_SZ or REG_EXPAND_SZ).
    bool IsText() const;
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

  // Answer the Windows error, kErrorSuccess when the key is there (opened).
  std::int32_t ProbeKey(text::View path) const;
  std::int32_t TryOpenKey(text::View path);
  bool KeyExists(text::View path) const { return ProbeKey(path) == platform::kErrorSuccess; }
  bool OpenKey(text::View path) { return TryOpenKey(path) == platform::kErrorSuccess; }
  // Reads a value of the current key (an empty name is the default value)
  // as text, raising nothing: a size query, then, unless that failed or
  // answered no data, a read into a buffer that holds all of it.
  ValueRead Read(text::View name) const;
  // Read's text; missing or empty data, or a size query that fails for any
  // reason, reads as empty text. Raises when the read fails, the data is no
  // text, or its size is beyond any buffer.
  text::Text ReadString(text::View name) const;
  void CloseKey() { current_.reset(); }

 private:
  // Path rule: a leading backslash means "from the root"; anything else is
  // relative to the current key when one is open.
  platform::Key BaseFor(text::View path, text::View* relative) const;
  std::int32_t Open(text::View path, std::uint32_t rights, platform::UniqueKey* key) const;

  platform::Key root_ = platform::kCurrentUser;
  platform::UniqueKey current_;
};

}  // namespace browser
