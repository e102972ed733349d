#include "doctor/machine.h"

#include <cstring>
#include <vector>

#include "doctor/journal.h"
#include "platform/unique_handle.h"

namespace doctor {

using text::Text;
using text::View;

namespace {

constexpr char16_t kCurrentVersionKey[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::uint32_t kLongestValue = 4096;        // bytes; Windows' own names are far shorter
constexpr std::uint32_t kLargestResource = 1 << 20;  // a program's version resource is a few KB

// A value's data as read, when the read succeeded: a size query, then a read
// into a buffer with room for a terminator, all of it declared to the call.
bool ReadValue(platform::Key key, const char16_t* name, std::uint32_t* type, std::vector<std::uint8_t>* data) {
  std::uint32_t size = 0;
  if (platform::RegQueryValueExW(key, name, nullptr, type, nullptr, &size) != platform::kErrorSuccess || size == 0 ||
      size > kLongestValue)
    return false;
  data->assign(size + 2, 0);
  std::uint32_t read = size + 2;
  if (platform::RegQueryValueExW(key, name, nullptr, type, data->data(), &read) != platform::kErrorSuccess ||
      read > size + 2)
    return false;
  data->resize(read);
  return true;
}

std::optional<Text> ReadText(platform::Key key, const char16_t* name) {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (!ReadValue(key, name, &type, &data) || (type != platform::kRegSz && type != platform::kRegExpandSz))
    return std::nullopt;
  Text text;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const auto c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (c == 0) break;
    text += c;
  }
  return text.empty() ? std::nullopt : std::optional<Text>(Capped(text));
}

std::optional<std::uint32_t> ReadDword(platform::Key key, const char16_t* name) {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (!ReadValue(key, name, &type, &data) || type != platform::kRegDword || data.size() != 4) return std::nullopt;
  return static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24);
}

bool StartsWith(View s, View prefix) { return s.substr(0, prefix.size()) == prefix; }

Text MachineName(std::uint16_t machine) {
  switch (machine) {
    case platform::kMachineI386:
      return u"x86";
    case platform::kMachineAmd64:
      return u"x64";
    case platform::kMachineArm64:
      return u"ARM64";
    case platform::kMachineArmNt:
      return u"ARM";
  }
  return u"machine " + Decimal(machine);
}

Text ProcessorName(std::uint16_t architecture) {
  switch (architecture) {
    case platform::kProcessorIntel:
      return u"x86";
    case platform::kProcessorAmd64:
      return u"x64";
    case platform::kProcessorArm64:
      return u"ARM64";
    case platform::kProcessorArm:
      return u"ARM";
  }
  return u"architecture " + Decimal(architecture);
}

Text Hex4(std::uint16_t n) {
  static const char16_t digits[] = u"0123456789ABCDEF";
  Text out;
  for (int shift = 12; shift >= 0; shift -= 4) out += digits[(n >> shift) & 0xF];
  return out;
}

// A version resource as GetFileVersionInfoW copied it, and the values
// VerQueryValueW finds in it: only what lies within the block is read.
class VersionBlock {
 public:
  explicit VersionBlock(std::uint32_t size) : words_((size + 3) / 4), size_(size) {}
  void* data() { return words_.data(); }

  // The bytes of sub_block; length: in units of unit bytes, clipped to the block.
  std::vector<std::uint8_t> Query(const Text& sub_block, std::uint32_t unit) const {
    const void* found = nullptr;
    std::uint32_t length = 0;
    if (!platform::VerQueryValueW(words_.data(), sub_block.c_str(), &found, &length) || found == nullptr) return {};
    const auto begin = reinterpret_cast<std::uintptr_t>(words_.data()), at = reinterpret_cast<std::uintptr_t>(found);
    if (at < begin || at >= begin + size_) return {};
    const std::size_t room = begin + size_ - at, wanted = static_cast<std::size_t>(length) * unit;
    const auto* bytes = static_cast<const std::uint8_t*>(found);
    return std::vector<std::uint8_t>(bytes, bytes + (wanted < room ? wanted : room));
  }

  std::optional<Text> String(const Text& sub_block) const {
    const std::vector<std::uint8_t> bytes = Query(sub_block, 2);
    Text text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const auto c = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
      if (c == 0) break;
      text += c;
    }
    return text.empty() ? std::nullopt : std::optional<Text>(Capped(text));
  }

 private:
  std::vector<std::uint32_t> words_;  // aligned as VerQueryValueW wants it
  std::uint32_t size_;
};

}  // namespace

WindowsNames ReadWindowsNames(bool version_known, std::uint32_t major, std::uint32_t minor) {
  const journal::NotJournaled own_reads;
  // The doctor is a 32-bit program: on 64-bit Windows a plain read of
  // HKLM\SOFTWARE goes to its WOW6432Node copy, which can be stale.
  const bool windows_2000 = version_known && major == 5 && minor == 0;
  platform::UniqueKey key;
  platform::Key opened = platform::kNoKey;
  if (platform::RegOpenKeyExW(platform::kLocalMachine, kCurrentVersionKey, 0,
                              platform::kKeyRead | (windows_2000 ? 0 : platform::kKeyWow64_64Key),
                              &opened) != platform::kErrorSuccess)
    return {};
  key.reset(opened);
  WindowsNames names;
  names.product_name = ReadText(key.get(), u"ProductName");
  names.display_version = ReadText(key.get(), u"DisplayVersion");
  if (!names.display_version) names.display_version = ReadText(key.get(), u"ReleaseId");  // before 20H2
  names.current_build = ReadText(key.get(), u"CurrentBuildNumber");
  names.ubr = ReadDword(key.get(), u"UBR");
  return names;
}

std::optional<Text> PersonName(const WindowsNames& names) {
  if (!names.product_name) return std::nullopt;
  // Windows 11 still stores "Windows 10 ..." as its product name; only its
  // build tells it apart (22000 and later). Servers name themselves rightly.
  const Text& stored = *names.product_name;
  const Text ten = u"Windows 10";
  std::uint32_t build = 0;
  bool numeric = names.current_build.has_value() && !names.current_build->empty();
  for (char16_t c : names.current_build.value_or(Text()))
    if (c < u'0' || c > u'9' || build > 100000000)
      numeric = false;
    else
      build = build * 10 + (c - u'0');
  if (StartsWith(stored, ten) && (stored.size() == ten.size() || stored[ten.size()] == u' ') && numeric &&
      build >= 22000)
    return u"Windows 11" + stored.substr(ten.size());
  return stored;
}

Machine ReadMachine() {
  Machine m;
  std::uint16_t process = 0, native = 0;
  if (platform::IsWow64Process2(platform::kCurrentProcess, &process, &native)) {
    m.architecture = MachineName(native);
    m.wow64 = process != platform::kMachineUnknown;
    m.process_architecture = MachineName(*m.wow64 ? process : native);
  } else {
    // Before Windows 10 1709 the doctor, a 32-bit program, runs as x86 code.
    m.process_architecture = u"x86";
    bool wow64 = false;
    if (platform::IsWow64Process(platform::kCurrentProcess, &wow64))
      m.wow64 = wow64;
    else if (platform::GetLastError() == platform::kErrorProcNotFound)
      m.wow64 = false;  // a Windows without WOW64: 2000, XP before SP2
    platform::SystemInfo info{};
    // Windows 2000 has no such call: it ran on x86.
    m.architecture = platform::GetNativeSystemInfo(&info) ? ProcessorName(info.wProcessorArchitecture) : Text(u"x86");
  }
  // x86 code on an ARM64 machine runs emulated; WOW64 on x64 is not emulation.
  m.emulated = *m.process_architecture == u"x86" && *m.architecture == u"ARM64";
  return m;
}

ProgramVersion ReadProgramVersion(const Text& path) {
  ProgramVersion v;
  v.read = true;
  std::uint32_t handle = 0;
  const std::uint32_t size = platform::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0 || size > kLargestResource) return v;
  VersionBlock block(size);
  if (!platform::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return v;
  // The string tables to look in, in turn: each language and code page the
  // resource lists, then US English in Unicode, then in Windows-1252.
  std::vector<Text> tables;
  const std::vector<std::uint8_t> listed = block.Query(u"\\VarFileInfo\\Translation", 1);
  for (std::size_t i = 0; i + 3 < listed.size(); i += 4)
    tables.push_back(Hex4(static_cast<std::uint16_t>(listed[i] | listed[i + 1] << 8)) +
                     Hex4(static_cast<std::uint16_t>(listed[i + 2] | listed[i + 3] << 8)));
  tables.push_back(u"040904B0");
  tables.push_back(u"040904E4");
  const auto first = [&](View name) -> std::optional<Text> {
    for (const Text& table : tables)
      if (auto found = block.String(u"\\StringFileInfo\\" + table + u"\\" + Text(name))) return found;
    return std::nullopt;
  };
  v.product_name = first(u"ProductName");
  v.file_version = first(u"FileVersion");
  v.company = first(u"CompanyName");
  return v;
}

}  // namespace doctor
