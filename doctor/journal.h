// Every registry key a run opened, every value it queried and every question
// it put to the shell, for the report's Registry section. The doctor's platform layer writes it (and the
// doctor's tests connect it to the simulated Windows' registry observer);
// the launcher's layer keeps none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace doctor::journal {

enum class Kind { KeyOpen, ValueQuery, ShellQuery };

struct Entry {
  explicit Entry(Kind k) : kind(k) {}
  Kind kind;
  std::int32_t status = 0;           // the call's Win32 error code (ShellQuery: its HRESULT)
  std::u16string path;               // the key's full path ("HKCU\...")
  std::u16string name;               // ValueQuery: the value's name
  std::uint32_t rights = 0;          // KeyOpen; ShellQuery: the ASSOCSTR asked for
  bool with_buffer = false;          // a read of the data, not a size query
  std::uint32_t type = 0, size = 0;  // ValueQuery; ShellQuery: size in characters
  std::u16string text;               // a successful read of text: the data up to its first NUL
};

const std::vector<Entry>& Entries();
void Clear();

// While one lives, nothing is recorded: the doctor's own reads, which are
// not the launcher's.
class NotJournaled {
 public:
  NotJournaled();
  ~NotJournaled();
  NotJournaled(const NotJournaled&) = delete;
  NotJournaled& operator=(const NotJournaled&) = delete;
};

void RecordKeyOpen(platform::Key base, const char16_t* sub_key, std::uint32_t rights, std::int32_t status,
                   platform::Key opened);
void RecordValueQuery(platform::Key key, const char16_t* value_name, std::int32_t status, const std::uint32_t* type,
                      const std::uint8_t* data, const std::uint32_t* data_size);
void RecordShellQuery(std::uint32_t what, std::int32_t status, const char16_t* out, const std::uint32_t* out_chars);

}  // namespace doctor::journal
