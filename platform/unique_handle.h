// Owning wrappers for the platform's handles: one alias per kind, over the
// call that closes it. The "invalid" value belongs to the kind: a snapshot or
// a find fails with kInvalidHandle, a process handle or a key with zero.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace platform {

template <typename T, auto Close, T Invalid>
class Unique {
 public:
  Unique() = default;
  explicit Unique(T value) : value_(value) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : value_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Unique() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Invalid; }

  // For out-parameters: closes what is held and hands out the slot.
  T* put() {
    reset();
    return &value_;
  }
  void reset(T value = Invalid) {
    if (value_ != Invalid) Close(value_);
    value_ = value;
  }
  T release() { return std::exchange(value_, Invalid); }

 private:
  T value_ = Invalid;
};

using UniqueKey = Unique<Key, RegCloseKey, kNoKey>;
using UniqueFind = Unique<Handle, FindClose, kInvalidHandle>;
// A file or a snapshot: CloseHandle closes both, and both fail with kInvalidHandle.
using UniqueHandle = Unique<Handle, CloseHandle, kInvalidHandle>;
using UniqueProcess = Unique<Handle, CloseHandle, kNoHandle>;

}  // namespace platform
