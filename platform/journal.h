// What a reporting platform saw of a run: the Windows version, each registry
// key opened and value queried, and the shell calls it was asked to make. The
// doctor's platform keeps it (and so does the simulated Windows, so that the
// doctor can be tested on any system); the launcher's platform keeps none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::journal {

enum class Kind { Version, KeyOpen, ValueQuery, Launch, Open };

struct Entry {
  explicit Entry(Kind k) : kind(k) {}
  Kind kind;
  std::int32_t status = 0;                        // the call's Win32 error code; for Version, non-zero when it failed
  std::u16string path;                            // the key's full path ("HKCU\..."), or the file a shell call names
  std::u16string name;                            // the value's name, or the parameters of a shell call
  std::uint32_t rights = 0;                       // KeyOpen
  bool with_buffer = false;                       // ValueQuery: a read of the data, not a size query
  std::uint32_t type = 0, size = 0;               // ValueQuery
  std::u16string text;                            // a successful read of text: the data up to its first NUL
  std::uint32_t major = 0, minor = 0, build = 0;  // Version
};

const std::vector<Entry>& Entries();
void Clear();

void RecordVersion(bool ok, const OsVersionInfo& info);
void RecordKeyOpen(Key base, const char16_t* sub_key, std::uint32_t rights, std::int32_t status, Key opened);
void RecordValueQuery(Key key, const char16_t* value_name, std::int32_t status, const std::uint32_t* type,
                      const std::uint8_t* data, const std::uint32_t* data_size);
void RecordShellCall(Kind kind, const char16_t* file, const char16_t* parameters);

}  // namespace platform::journal
