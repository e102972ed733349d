#include "tests/conformance/claims.h"

#include <cstdio>

#include "platform/platform.h"

namespace conformance {
namespace {

using namespace platform;  // the seam's calls and constants, as the launcher uses them
using Bytes = std::vector<std::uint8_t>;
using sim::Utf16;

constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kKeyAllAccess = 0x000F003F;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint8_t kSentinel = 0xCC;  // what a buffer holds where a call wrote nothing
constexpr int kSizeOnly = -1;

Bytes Sentinels(Bytes data, std::size_t size) {
  data.resize(size, kSentinel);
  return data;
}

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::string Number(std::int64_t n) { return std::to_string(n); }

// What went otherwise than claimed, as one line.
struct Seen {
  void Expect(bool held, const std::string& what) {
    if (!held) text += (text.empty() ? "" : "; ") + what;
  }
  std::string text;
};

struct Answer {
  std::int32_t status = -1;
  std::uint32_t type = 0, size = 0;
  Bytes data;

  std::string Describe() const {
    std::string out = "status " + Number(status) + ", type " + Number(type) + ", size " + Number(size);
    if (!data.empty()) out += ", data";
    for (std::uint8_t byte : data) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", byte);
      out += hex;
    }
    return out;
  }
};

// A value of key (under HKCU), asked for its size (buffer kSizeOnly) or read
// into a buffer of that many bytes, filled with sentinels first.
Answer Ask(const std::u16string& key, const char16_t* name, int buffer) {
  Answer a;
  Key opened = kNoKey;
  a.status = RegOpenKeyExW(kCurrentUser, key.c_str(), 0, kKeyRead, &opened);
  if (a.status != kErrorSuccess) return a;
  if (buffer != kSizeOnly) a.data.assign(static_cast<std::size_t>(buffer), kSentinel);
  a.size = static_cast<std::uint32_t>(a.data.size());
  a.status = RegQueryValueExW(opened, name, nullptr, &a.type, buffer == kSizeOnly ? nullptr : a.data.data(), &a.size);
  RegCloseKey(opened);
  return a;
}

std::string Claimed(const Answer& got, const Answer& claim, const char* what) {
  Seen seen;
  seen.Expect(got.status == claim.status && got.type == claim.type && got.size == claim.size &&
                  (claim.data.empty() || got.data == claim.data),
              std::string(what) + ": " + got.Describe() + ", not " + claim.Describe());
  return seen.text;
}

// --- registry values --------------------------------------------------------------
std::string StringWithoutTerminator(Builder& b) {
  const std::u16string key = b.Key();
  b.Value(key, u"v", kRegSz, Utf16(u"ab"));
  return Claimed(Ask(key, u"v", kSizeOnly), {kErrorSuccess, kRegSz, 4, {}}, "size query") +
         Claimed(Ask(key, u"v", 8), {kErrorSuccess, kRegSz, 4, Sentinels(Utf16(std::u16string(u"ab\0", 3)), 8)},
                 "read into 8 bytes: the data, a terminator Windows adds, then nothing");
}

std::string StringWithEmbeddedNul(Builder& b) {
  const std::u16string key = b.Key();
  const std::u16string stored(u"a\0b", 3);
  b.Value(key, u"v", kRegSz, Utf16(stored));
  return Claimed(Ask(key, u"v", 12), {kErrorSuccess, kRegSz, 6, Sentinels(Utf16(stored + u'\0'), 12)},
                 "read into 12 bytes: all of it, past the NUL");
}

std::string ValueOfAnotherType(Builder& b) {
  const std::u16string key = b.Key();
  b.Value(key, u"v", kRegDword, {1, 0, 0, 0});
  return Claimed(Ask(key, u"v", kSizeOnly), {kErrorSuccess, kRegDword, 4, {}}, "size query") +
         Claimed(Ask(key, u"v", 8), {kErrorSuccess, kRegDword, 4, Sentinels({1, 0, 0, 0}, 8)},
                 "read into 8 bytes: no terminator for a DWORD");
}

std::string BufferTooSmall(Builder& b) {
  const std::u16string key = b.Key();
  b.Value(key, u"v", kRegSz, Utf16(std::u16string(u"abcd\0", 5)));
  const Answer got = Ask(key, u"v", 4);
  Seen seen;
  seen.Expect(got.status == static_cast<std::int32_t>(kErrorMoreData) && got.size == 10,
              "read into 4 of 10 bytes: " + got.Describe() + ", not ERROR_MORE_DATA (234) and the size needed, 10");
  return seen.text;
}

std::string MissingValue(Builder& b) {
  const std::u16string key = b.Key();
  return Claimed(Ask(key, u"absent", kSizeOnly), {static_cast<std::int32_t>(kErrorFileNotFound), 0, 0, {}},
                 "size query");
}

std::string ReadOnlyKey(Builder& b) {
  const std::u16string key = b.Key();
  b.ReadOnly(key);
  Seen seen;
  const std::pair<std::uint32_t, std::int32_t> opens[] = {
      {kKeyRead, kErrorSuccess},
      {kStandardRightsRead | kKeyQueryValue | kKeyEnumerateSubKeys, kErrorSuccess},
      {kKeyAllAccess, static_cast<std::int32_t>(kErrorAccessDenied)},
  };
  for (const auto& [rights, claim] : opens) {
    Key opened = kNoKey;
    const std::int32_t status = RegOpenKeyExW(kCurrentUser, key.c_str(), 0, rights, &opened);
    if (status == kErrorSuccess) RegCloseKey(opened);
    seen.Expect(status == claim,
                "open for rights " + Number(rights) + ": status " + Number(status) + ", not " + Number(claim));
  }
  return seen.text;
}

// --- files -------------------------------------------------------------------------
struct Attributes {
  std::uint32_t attributes, error;
};

Attributes AttributesOf(const std::u16string& path) {
  const std::uint32_t attributes = GetFileAttributesW(path.c_str());
  return {attributes, attributes == kInvalidFileAttributes ? GetLastError() : 0};
}

std::string Fails(const std::u16string& path, std::uint32_t error) {
  const Attributes got = AttributesOf(path);
  Seen seen;
  seen.Expect(got.attributes == kInvalidFileAttributes && got.error == error,
              "GetFileAttributesW(" + Utf8(path) + "): attributes " + Number(got.attributes) + ", error " +
                  Number(got.error) + "; not a failure with error " + Number(error));
  return seen.text;
}

std::string Absent(Builder& b) { return Fails(b.Folder() + u"\\absent.txt", kErrorFileNotFound); }

std::string FolderAbsent(Builder& b) { return Fails(b.Folder() + u"\\missing\\file.txt", kErrorPathNotFound); }

std::string InvalidName(Builder& b) { return Fails(b.Folder() + u"\\a?b.txt", kErrorInvalidName); }

std::string AFolder(Builder& b) {
  const std::u16string path = b.Folder() + u"\\folder";
  b.Directory(path);
  const Attributes got = AttributesOf(path);
  Seen seen;
  seen.Expect(got.attributes != kInvalidFileAttributes && (got.attributes & kFileAttributeDirectory) != 0,
              "attributes " + Number(got.attributes) + " (error " + Number(got.error) + "): not a folder");
  return seen.text;
}

std::string LinkWhoseTargetIsGone(Builder& b) {
  const std::u16string folder = b.Folder(), link = folder + u"\\link.url";
  b.Link(link, folder + u"\\gone.url");
  const Attributes got = AttributesOf(link);
  Seen seen;
  seen.Expect(got.attributes != kInvalidFileAttributes && (got.attributes & kFileAttributeReparsePoint) != 0 &&
                  (got.attributes & kFileAttributeDirectory) == 0,
              "attributes " + Number(got.attributes) + " (error " + Number(got.error) +
                  "): not those of the link itself, a reparse point that is no folder");
  const Handle opened = CreateFileW(link.c_str(), kGenericRead, kFileShareRead, nullptr, kOpenExisting, 0, kNoHandle);
  const std::uint32_t error = opened == kInvalidHandle ? GetLastError() : 0;
  if (opened != kInvalidHandle) CloseHandle(opened);
  seen.Expect(opened == kInvalidHandle && error == kErrorFileNotFound,
              "opening it, which follows it: error " + Number(error) + ", not " + Number(kErrorFileNotFound));
  return seen.text;
}

// --- processes and windows -----------------------------------------------------------
// Only the claim's own processes and windows count: Windows (and Wine) run
// others of their own.
std::string Snapshot(Builder& b) {
  const std::u16string image = u"conformance-listed.exe";
  const std::uint32_t id = b.Process(image, false);
  std::size_t by_id = 0, by_name = 0;
  std::u16string listed;
  const Handle snapshot = CreateToolhelp32Snapshot(kSnapProcess, 0);
  ProcessEntry entry{};
  entry.dwSize = kProcessEntrySize;
  for (bool more = snapshot != kInvalidHandle && Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    const std::u16string name(entry.szExeFile);
    if (entry.th32ProcessID == id) {
      ++by_id;
      listed = name;
    }
    by_name += name == image;
  }
  if (snapshot != kInvalidHandle) CloseHandle(snapshot);
  Seen seen;
  seen.Expect(snapshot != kInvalidHandle, "no snapshot");
  seen.Expect(by_id == 1 && by_name == 1 && listed == image, "process " + Number(id) + " listed " + Number(by_id) +
                                                                 " times, as " + Utf8(listed) + "; " + Number(by_name) +
                                                                 " entries named " + Utf8(image));
  return seen.text;
}

struct WindowsOf {
  std::uint32_t process_id;
  std::size_t all = 0, taskbar = 0;  // taskbar: visible, unowned and not a tool window
};

bool Count(Window window, void* context) {
  auto* of = static_cast<WindowsOf*>(context);
  std::uint32_t id = 0;
  if (GetWindowThreadProcessId(window, &id) == 0 || id != of->process_id) return true;
  ++of->all;
  if (IsWindowVisible(window) && GetWindow(window, kGwOwner) == kNoWindow &&
      (static_cast<std::uint32_t>(GetWindowLongW(window, kGwlExStyle)) & kWsExToolWindow) == 0)
    ++of->taskbar;
  return true;
}

std::string WindowListing(Builder& b) {
  WindowsOf of{b.Process(u"conformance-shown.exe", true)};
  const bool listed = EnumWindows(Count, &of);
  Seen seen;
  seen.Expect(listed && of.taskbar == 1, "EnumWindows " + std::string(listed ? "listed " : "failed, after ") +
                                             Number(of.all) + " windows of the process, " + Number(of.taskbar) +
                                             " of them visible, unowned and no tool window; not the one it shows");
  return seen.text;
}

// --- the shell's answer for http links --------------------------------------------------
struct ShellSays {
  std::int32_t sized = -1, read = -1;  // the HRESULTs of the length query and of the read
  std::uint32_t chars = 0, read_chars = 0;
  std::u16string text;
};

ShellSays AskShell(std::uint32_t what) {
  ShellSays s;
  s.sized = AssocQueryStringW(kAssocfIsProtocol, what, u"http", u"open", nullptr, &s.chars);
  if (s.chars == 0 || s.chars > 32768) return s;
  std::u16string buffer(s.chars, u'\xCCCC');
  s.read_chars = s.chars;
  s.read = AssocQueryStringW(kAssocfIsProtocol | kAssocfNoTruncate, what, u"http", u"open", &buffer[0], &s.read_chars);
  if (s.read == kSOk) s.text = buffer.substr(0, buffer.find(u'\0'));
  return s;
}

// The text of a value (up to 1023 characters) of root\path opened with
// rights, or empty text.
std::u16string ValueText(Key root, const std::u16string& path, const char16_t* name, std::uint32_t rights = kKeyRead) {
  Key opened = kNoKey;
  if (RegOpenKeyExW(root, path.c_str(), 0, rights, &opened) != kErrorSuccess) return u"";
  std::u16string text(1024, u'\0');
  std::uint32_t type = 0, size = static_cast<std::uint32_t>(text.size() * 2);
  const std::int32_t status =
      RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<std::uint8_t*>(&text[0]), &size);
  RegCloseKey(opened);
  return status == kErrorSuccess ? text.substr(0, text.find(u'\0')) : u"";
}

// The default value of HKCR\path, or empty text.
std::u16string ClassValue(const std::u16string& path) { return ValueText(kClassesRoot, path, u""); }

// The classes whose open command the shell may run for http links: http
// itself, and the ones the user's choices name.
std::vector<std::u16string> HttpClassCommands() {
  std::vector<std::u16string> commands = {ClassValue(u"http\\shell\\open\\command")};
  for (const char16_t* choice :
       {u"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice",
        u"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoiceLatest\\ProgId"}) {
    Answer named = Ask(choice, u"Progid", 512);
    if (named.status != kErrorSuccess) named = Ask(choice, u"ProgId", 512);
    if (named.status != kErrorSuccess) continue;
    const std::u16string prog_id = sim::FromUtf16(named.data.data(), named.size);
    commands.push_back(ClassValue(prog_id + u"\\shell\\open\\command"));
  }
  return commands;
}

bool FromWindows8(Builder& b) {
  const sim::Version v = b.Release();
  return v.major > 6 || (v.major == 6 && v.minor >= 2);
}

std::string ShellCommandForHttp(Builder& b) {
  Seen seen;
  if (!FromWindows8(b)) return seen.text;  // ASSOCF_IS_PROTOCOL is Windows 8's
  const ShellSays s = AskShell(kAssocStrCommand);
  const auto length = static_cast<std::uint32_t>(s.text.size() + 1);
  seen.Expect((s.sized == kSOk || s.sized == kSFalse) && s.read == kSOk && s.chars == length && s.read_chars == length,
              "length query " + Number(s.sized) + " (" + Number(s.chars) + " characters), read " + Number(s.read) +
                  " (" + Number(s.read_chars) + "), for " + Number(length) + " with the terminator");
  bool stored = false;
  for (const std::u16string& command : HttpClassCommands()) stored = stored || (!s.text.empty() && command == s.text);
  seen.Expect(stored, "the command \"" + Utf8(s.text) + "\" is no class's stored open command");
  return seen.text;
}

std::string ShellClassForHttp(Builder& b) {
  Seen seen;
  if (!FromWindows8(b)) return seen.text;
  const ShellSays s = AskShell(kAssocStrProgId);
  const ShellSays command = AskShell(kAssocStrCommand);
  seen.Expect(s.read == kSOk && !s.text.empty() && ClassValue(s.text + u"\\shell\\open\\command") == command.text,
              "class \"" + Utf8(s.text) + "\" (" + Number(s.read) + "), whose open command is not the shell's \"" +
                  Utf8(command.text) + "\"");
  return seen.text;
}

// --- names, the shell's refusal, and the message queue ----------------------------------
std::string KeyNameCase(Builder& b) {
  const std::u16string path = b.NamedKey(u"Ключ-Key");
  Key opened = kNoKey;
  const std::int32_t status =
      RegOpenKeyExW(kCurrentUser, (path.substr(0, path.size() - 8) + u"кЛЮЧ-kEY").c_str(), 0, kKeyRead, &opened);
  if (status == kErrorSuccess) RegCloseKey(opened);
  Seen seen;
  seen.Expect(status == kErrorSuccess, "the key in another case: status " + Number(status));
  return seen.text;
}

std::string FileNameCase(Builder& b) {
  const std::u16string folder = b.Folder();
  b.File(folder + u"\\Файл-File.txt");
  const std::uint32_t attributes = GetFileAttributesW((folder + u"\\фАЙЛ-fILE.TXT").c_str());
  Seen seen;
  seen.Expect(attributes != kInvalidFileAttributes, "the file in another case: not found");
  return seen.text;
}

std::string EmptyProgramRefused(Builder&) {
  constexpr std::uint32_t kSeeMaskFlagNoUi = 0x400;  // no error box: under a headless driver it would block
  ShellExecuteInfo info{};
  info.cbSize = kShellExecuteInfoSize;
  info.fMask = kSeeMaskNoCloseProcess | kSeeMaskFlagNoUi;
  info.lpVerb = u"open";
  info.lpFile = u"";
  info.lpParameters = u"";
  info.nShow = kShowNormal;
  const bool started = ShellExecuteExW(&info);
  if (info.hProcess != kNoHandle) CloseHandle(info.hProcess);
  Seen seen;
  seen.Expect(!started && info.hProcess == kNoHandle && static_cast<std::uintptr_t>(info.hInstApp) <= 32,
              "started " + Number(started) + ", hInstApp " + Number(static_cast<std::int64_t>(info.hInstApp)));
  return seen.text;
}

std::string AnsiWindowMessages(Builder& b) {
  const Window window = b.AnsiWindow();
  b.Post(window, 0x0401);
  b.Post(window, 0x0402);
  Msg first{}, second{}, none{};
  const bool unicode = IsWindowUnicode(window);
  const bool got_first = PeekMessageW(&first, kNoWindow, 0, 0, kPmRemove);
  const bool got_second = PeekMessageA(&second, kNoWindow, 0, 0, kPmRemove);
  const bool got_more = PeekMessageW(&none, kNoWindow, 0x0401, 0x0402, kPmRemove);
  Seen seen;
  seen.Expect(!unicode, "IsWindowUnicode answered true");
  seen.Expect(got_first && first.message == 0x0401 && got_second && second.message == 0x0402 && !got_more,
              "PeekMessageW took " + Number(got_first ? first.message : 0) + ", PeekMessageA took " +
                  Number(got_second ? second.message : 0) + (got_more ? ", and more was left" : ""));
  return seen.text;
}

// --- the machine, as the doctor asks it ---------------------------------------------------
std::string RegistryViews(Builder& b) {
  const std::u16string key = b.SoftwareKey();
  b.SoftwareValue(key, true, u"v", u"64-bit view");
  b.SoftwareValue(key, false, u"v", u"32-bit view");
  bool wow64 = false;
  IsWow64Process(kCurrentProcess, &wow64);
  const std::u16string wide = ValueText(kLocalMachine, key, u"v", kKeyRead | kKeyWow64_64Key),
                       plain = ValueText(kLocalMachine, key, u"v");
  Seen seen;
  seen.Expect(wide == u"64-bit view", "with KEY_WOW64_64KEY: " + Utf8(wide));
  seen.Expect(plain == (wow64 ? u"32-bit view" : u"64-bit view"),
              "without it, " + std::string(wow64 ? "under" : "not under") + " WOW64: " + Utf8(plain));
  return seen.text;
}

std::string ArchitectureCalls(Builder&) {
  std::uint16_t process = 0xFFFF, native = 0xFFFF;
  bool wow64 = false;
  SystemInfo info{};
  const bool two = IsWow64Process2(kCurrentProcess, &process, &native);
  const bool one = IsWow64Process(kCurrentProcess, &wow64);
  const bool system = GetNativeSystemInfo(&info);
  Seen seen;
  seen.Expect(one && system, "IsWow64Process " + Number(one) + ", GetNativeSystemInfo " + Number(system));
  if (!two) return seen.text;  // before Windows 10 1709
  seen.Expect((process != kMachineUnknown) == wow64 && (process == kMachineUnknown || process == kMachineI386),
              "IsWow64Process2 names the process's machine " + Number(process) + ", IsWow64Process says WOW64 " +
                  Number(wow64));
  const std::uint16_t architecture = native == kMachineAmd64 ? kProcessorAmd64 : kProcessorIntel;
  seen.Expect(native == kMachineArm64 || info.wProcessorArchitecture == architecture,
              "IsWow64Process2 names the machine " + Number(native) + ", GetNativeSystemInfo the architecture " +
                  Number(info.wProcessorArchitecture));
  return seen.text;
}

std::string Arm64RunsX86UnderWow64(Builder&) {
  std::uint16_t process = 0, native = 0;
  Seen seen;
  if (!IsWow64Process2(kCurrentProcess, &process, &native) || native != kMachineArm64) return seen.text;
  seen.Expect(process == kMachineI386, "an x86 program on ARM64: its machine " + Number(process));
  return seen.text;
}

std::string NoVersionResource(Builder& b) {
  const std::u16string path = b.Folder() + u"\\plain.txt";
  b.File(path);
  std::uint32_t handle = 1;
  const std::uint32_t size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  Seen seen;
  seen.Expect(size == 0, "size " + Number(size));
  return seen.text;
}

std::string VersionResourceStrings(Builder& b) {
  const std::u16string path = b.VersionedProgram();
  std::uint32_t handle = 0;
  const std::uint32_t size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  Seen seen;
  seen.Expect(size > 0, "size 0");
  if (size == 0) return seen.text;
  std::vector<std::uint32_t> block((size + 3) / 4);
  seen.Expect(GetFileVersionInfoW(path.c_str(), 0, size, block.data()), "GetFileVersionInfoW failed");
  const auto inside = [&](const void* p, std::size_t bytes) {
    const auto at = reinterpret_cast<std::uintptr_t>(p), begin = reinterpret_cast<std::uintptr_t>(block.data());
    return at >= begin && at + bytes <= begin + size;
  };
  const void* found = nullptr;
  std::uint32_t length = 0;
  const bool listed = VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &found, &length);
  seen.Expect(listed && length >= 4 && length % 4 == 0 && inside(found, length),
              "the translation table: " + Number(listed) + ", " + Number(length) + " bytes");
  if (!seen.text.empty()) return seen.text;
  const auto* pair = static_cast<const std::uint8_t*>(found);
  char table[16];
  std::snprintf(table, sizeof table, "%04X%04X", pair[0] | pair[1] << 8, pair[2] | pair[3] << 8);
  const std::u16string name = u"\\StringFileInfo\\" + std::u16string(table, table + 8) + u"\\ProductName";
  const bool named = VerQueryValueW(block.data(), name.c_str(), &found, &length);
  seen.Expect(named && length > 1 && inside(found, 2 * length),
              Utf8(name) + ": " + Number(named) + ", " + Number(length) + " characters");
  return seen.text;
}

std::string UserClassOverrides(Builder& b) {
  const std::u16string name = b.ClassForBoth(u"machine", u"user");
  const std::u16string command = ClassValue(name + u"\\shell\\open\\command");
  Seen seen;
  seen.Expect(command == u"user", "HKEY_CLASSES_ROOT shows the command \"" + Utf8(command) + "\"");
  return seen.text;
}

// --- the version ------------------------------------------------------------------------
std::string VersionWithoutAManifest(Builder& b) {
  const sim::Version claim = b.Release();
  OsVersionInfo info{};
  info.dwOSVersionInfoSize = kOsVersionInfoSize;
  const bool answered = GetVersionExW(&info);
  const auto text = [](std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
    return Number(major) + "." + Number(minor) + "." + Number(build);
  };
  Seen seen;
  seen.Expect(answered && info.dwMajorVersion == claim.major && info.dwMinorVersion == claim.minor &&
                  info.dwBuildNumber == claim.build,
              "version " + text(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber) +
                  (answered ? "" : " (failed)") + ", not " + text(claim.major, claim.minor, claim.build));
  return seen.text;
}

}  // namespace

const std::vector<Claim>& Claims() {
  static const std::vector<Claim> claims = {
      {"a string value stored without its terminator reads as stored, and gains one where the buffer has room",
       StringWithoutTerminator},
      {"a string value with a NUL inside reads whole", StringWithEmbeddedNul},
      {"a value of another type answers its type and raw data", ValueOfAnotherType},
      {"a read into too small a buffer fails with ERROR_MORE_DATA and the size needed", BufferTooSmall},
      {"a missing value is ERROR_FILE_NOT_FOUND", MissingValue},
      {"a key that grants reading only opens for reading, and refuses all access", ReadOnlyKey},
      {"an absent file is ERROR_FILE_NOT_FOUND", Absent},
      {"a file in a folder that is not there is ERROR_PATH_NOT_FOUND", FolderAbsent},
      {"a name with a wildcard is ERROR_INVALID_NAME", InvalidName},
      {"a folder has the folder attribute", AFolder},
      {"a link whose target is gone is a reparse point, and opening it fails as file not found", LinkWhoseTargetIsGone},
      {"the process snapshot lists a process once, by its image name", Snapshot},
      {"the window listing shows a process's window, visible, unowned and no tool window", WindowListing},
      {"from Windows 8, the shell's command for http links is a class's stored open command, its length "
       "reported with the terminator, and it reads whole with ASSOCF_NOTRUNCATE",
       ShellCommandForHttp},
      {"from Windows 8, the shell names the class it opens http links with, whose open command it runs (as "
       "Microsoft documents ASSOCSTR_PROGID)",
       ShellClassForHttp},
      {"key names match whatever the case of their letters, ASCII or Cyrillic", KeyNameCase},
      {"file names match whatever the case of their letters, ASCII or Cyrillic", FileNameCase},
      {"ShellExecuteExW refuses an empty program, starting nothing (asked with SEE_MASK_FLAG_NO_UI, which the "
       "launcher does not pass, so on Windows it may also show an error box)",
       EmptyProgramRefused},
      {"PeekMessageW and PeekMessageA each remove the next message of a window whose class is not Unicode",
       AnsiWindowMessages},
      {"a program without a manifest is told its release's version: 5.1.2600 on XP, 6.0.6002 on Vista, 6.1.7601 "
       "on 7, 6.2.9200 on 8 and later",
       VersionWithoutAManifest},
      {"a 32-bit program reads HKLM\\SOFTWARE's 64-bit view with KEY_WOW64_64KEY, and without it the 32-bit one "
       "(WOW6432Node) on a 64-bit machine",
       RegistryViews},
      {"IsWow64Process2 names the machine and, under WOW64, the program's own; IsWow64Process agrees, and on x86 "
       "and x64 machines GetNativeSystemInfo does",
       ArchitectureCalls},
      {"on an ARM64 machine an x86 program runs under WOW64, which IsWow64Process2 names IMAGE_FILE_MACHINE_I386",
       Arm64RunsX86UnderWow64, "IsWow64Process2 (Microsoft Learn, wow64apiset.h); Wine runs on no ARM64 machine here"},
      {"a file without a version resource has a version-information size of 0", NoVersionResource},
      {"a class the user registers (HKCU\\Software\\Classes) overrides the machine's in HKEY_CLASSES_ROOT, also for "
       "an elevated program",
       UserClassOverrides,
       "HKEY_CLASSES_ROOT (Microsoft Learn, Merged View of HKEY_CLASSES_ROOT); Wine 8's is "
       "HKLM\\Software\\Classes alone"},
      {"a program's version resource lists its translations, and its strings lie in the block under "
       "\\StringFileInfo\\ and the first translation's language and code page",
       VersionResourceStrings},
  };
  return claims;
}

}  // namespace conformance
