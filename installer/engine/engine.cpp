#include "installer/engine/engine.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "installer/engine/system.h"

namespace installer {

namespace {

using sys::GetLastError;

constexpr std::uint32_t kRetries = 50;   // a held file: for up to 5 s,
constexpr std::uint32_t kRetryMs = 100;  // every 100 ms
constexpr std::uint32_t kJournalMax = 1 << 22;

Text Join(const Text& folder, const Text& name) { return folder + u"\\" + name; }

Text Decimal(std::int64_t n) {
  const std::string digits = std::to_string(n);
  return Text(digits.begin(), digits.end());
}

Text Parent(const Text& path) {
  const std::size_t slash = path.rfind(u'\\');
  return slash == Text::npos ? Text() : path.substr(0, slash);
}

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameText(const Text& a, const Text& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

bool EndsWith(const Text& s, const Text& tail) {
  return s.size() >= tail.size() && SameText(s.substr(s.size() - tail.size()), tail);
}

// --- files --------------------------------------------------------------------------------
bool Exists(const Text& path) { return sys::GetFileAttributesW(path.c_str()) != sys::kInvalidFileAttributes; }

// Whether there is something at path; nothing when Windows could not say.
std::optional<bool> There(const Text& path) {
  if (sys::GetFileAttributesW(path.c_str()) != sys::kInvalidFileAttributes) return true;
  const std::uint32_t error = GetLastError();
  if (error == sys::kErrorFileNotFound || error == sys::kErrorPathNotFound) return false;
  return std::nullopt;
}

// A file's size and last-write time as NSIS writes them, "SIZE:HIGH:LOW" in
// signed decimals, so that records of either match; empty when there is no
// such file, nothing when it could not be read.
std::optional<Text> Stamp(const Text& path) {
  sys::FileInfo info{};
  if (!sys::GetFileAttributesExW(path.c_str(), &info)) {
    const std::uint32_t error = GetLastError();
    return error == sys::kErrorFileNotFound || error == sys::kErrorPathNotFound ? std::optional<Text>(Text())
                                                                                : std::nullopt;
  }
  if ((info.attributes & sys::kFileAttributeDirectory) != 0) return Text();
  const auto signed32 = [](std::uint64_t n) { return Decimal(static_cast<std::int32_t>(n & 0xFFFFFFFF)); };
  return signed32(info.size) + u":" + signed32(info.last_write >> 32) + u":" + signed32(info.last_write);
}

std::uint64_t SizeOf(const Text& path) {
  sys::FileInfo info{};
  return sys::GetFileAttributesExW(path.c_str(), &info) ? info.size : 0;
}

// A held file is asked again: a scanner lets go quickly.
bool Held(std::uint32_t error) {
  return error == sys::kErrorSharingViolation || error == sys::kErrorLockViolation ||
         error == sys::kErrorUnableToRemoveReplaced || error == sys::kErrorUnableToMoveReplacement ||
         error == sys::kErrorUnableToMoveReplacement2;
}

bool Retried(const std::function<bool()>& step, std::uint32_t* error) {
  for (std::uint32_t tries = 0;; ++tries) {
    if (step()) return true;
    *error = GetLastError();
    if ((!Held(*error) && *error != sys::kErrorAccessDenied) || tries >= kRetries) return false;
    sys::Sleep(kRetryMs);
  }
}

// Every file under root, as paths relative to it, in one order, and every
// folder when asked; false when a folder could not be listed.
bool ListFiles(const Text& root, const Text& relative, std::vector<Text>* found, std::vector<Text>* folders = nullptr) {
  sys::FindEntry entry{};
  const Text folder = relative.empty() ? root : Join(root, relative);
  const sys::Handle find = sys::FindFirstFileW(Join(folder, u"*").c_str(), &entry);
  if (find == sys::kInvalidHandle) return GetLastError() == sys::kErrorFileNotFound;  // an empty folder
  std::vector<std::pair<Text, bool>> children;
  bool listed = true;
  do {
    const Text name(entry.name);
    if (name != u"." && name != u"..")
      children.emplace_back(name, (entry.attributes & sys::kFileAttributeDirectory) != 0);
  } while (sys::FindNextFileW(find, &entry) || (listed = GetLastError() == sys::kErrorNoMoreFiles, false));
  sys::FindClose(find);
  std::sort(children.begin(), children.end());
  for (const auto& [name, is_folder] : children) {
    const Text path = relative.empty() ? name : Join(relative, name);
    if (is_folder) {
      if (folders != nullptr) folders->push_back(path);
      listed = ListFiles(root, path, found, folders) && listed;
    } else {
      found->push_back(path);
    }
  }
  return listed;
}

void DeleteTree(const Text& root) {
  std::vector<Text> files, folders;
  ListFiles(root, u"", &files, &folders);
  for (const Text& file : files) sys::DeleteFileW(Join(root, file).c_str());
  // Folders, deepest first.
  std::sort(folders.begin(), folders.end(), [](const Text& a, const Text& b) { return a.size() > b.size(); });
  for (const Text& folder : folders) sys::RemoveDirectoryW(Join(root, folder).c_str());
  sys::RemoveDirectoryW(root.c_str());
}

// The folders a file's path needs under root that are not there, the outermost first.
std::vector<Text> MissingFolders(const Text& root, const Text& file) {
  std::vector<Text> missing;
  for (Text folder = Parent(file); !folder.empty() && !Exists(Join(root, folder)); folder = Parent(folder))
    missing.insert(missing.begin(), folder);
  return missing;
}

bool Flushed(const Text& path) {
  const sys::Handle file = sys::CreateFileW(path.c_str(), sys::kGenericWrite, 0, sys::kOpenExisting);
  if (file == sys::kInvalidHandle) return false;
  const bool flushed = sys::FlushFileBuffers(file);
  sys::CloseHandle(file);
  return flushed;
}

// A name read back from the registry is checked before anything is done by it.
bool Safe(const Text& name) {
  return !name.empty() && name.front() != u'\\' && name.front() != u'/' && name.find(u"..") == Text::npos &&
         name.find_first_of(u":*?<>\"|") == Text::npos;
}

// --- the registry ------------------------------------------------------------------------
class Reg {
 public:
  Reg(const Text& path, bool create) {
    status_ = create ? sys::RegCreateKeyExW(sys::kCurrentUser, path.c_str(), &key_)
                     : sys::RegOpenKeyExW(sys::kCurrentUser, path.c_str(), &key_);
  }
  ~Reg() {
    if (status_ == 0) sys::RegCloseKey(key_);
  }
  Reg(const Reg&) = delete;
  Reg& operator=(const Reg&) = delete;
  bool ok() const { return status_ == 0; }

  // A value as the journal keeps it: "-" when absent, "s=TEXT" or
  // "n=NUMBER"; nothing when it could not be read.
  std::optional<Text> Raw(const Text& name) const {
    if (!ok())
      return status_ == static_cast<std::int32_t>(sys::kErrorFileNotFound) ? std::optional<Text>(u"-") : std::nullopt;
    std::uint32_t type = 0, size = 0;
    std::int32_t status = sys::RegQueryValueExW(key_, name.c_str(), &type, nullptr, &size);
    if (status == static_cast<std::int32_t>(sys::kErrorFileNotFound)) return Text(u"-");
    std::vector<std::uint8_t> data(size + 2, 0);
    if (status == 0) status = sys::RegQueryValueExW(key_, name.c_str(), &type, data.data(), &size);
    if (status != 0 || size > data.size() - 2) return std::nullopt;
    if (type == sys::kRegDword && size == 4)
      return u"n=" + Decimal(static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                                        static_cast<std::uint32_t>(data[3]) << 24));
    Text text;
    for (std::size_t i = 0; i + 1 < size && (data[i] | data[i + 1]) != 0; i += 2)
      text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    return u"s=" + text;
  }
  // A value's text: empty when it is absent or no text; nothing when it could not be read.
  std::optional<Text> String(const Text& name) const {
    const std::optional<Text> raw = Raw(name);
    if (!raw) return std::nullopt;
    return raw->rfind(u"s=", 0) == 0 ? raw->substr(2) : Text();
  }
  bool Put(const Text& name, const Text& raw) {
    if (!ok()) return false;
    if (raw == u"-") {
      const std::int32_t status = sys::RegDeleteValueW(key_, name.c_str());
      return status == 0 || status == static_cast<std::int32_t>(sys::kErrorFileNotFound);
    }
    if (raw.rfind(u"n=", 0) == 0) {
      std::uint32_t n = 0;
      for (char16_t c : raw.substr(2)) n = n * 10 + static_cast<std::uint32_t>(c - u'0');
      const std::uint8_t data[4] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                    static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
      return sys::RegSetValueExW(key_, name.c_str(), sys::kRegDword, data, 4) == 0;
    }
    const Text text = raw.substr(2);
    std::vector<std::uint8_t> data;
    for (char16_t c : text + u'\0') {
      data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return sys::RegSetValueExW(key_, name.c_str(), sys::kRegSz, data.data(), static_cast<std::uint32_t>(data.size())) ==
           0;
  }
  // Its values' names (none when the key is not there); nothing when they could not be listed.
  std::optional<std::vector<Text>> Names() const {
    std::vector<Text> names;
    if (!ok())
      return status_ == static_cast<std::int32_t>(sys::kErrorFileNotFound) ? std::optional(names) : std::nullopt;
    for (std::uint32_t i = 0;; ++i) {
      char16_t name[16384];
      std::uint32_t chars = 16384;
      const std::int32_t status = sys::RegEnumValueW(key_, i, name, &chars);
      if (status == static_cast<std::int32_t>(sys::kErrorNoMoreItems)) return names;
      if (status != 0) return std::nullopt;
      names.emplace_back(name, chars);
    }
  }

 private:
  sys::Key key_ = sys::kNoKey;
  std::int32_t status_ = -1;
};

bool KeyExists(const Text& path) { return Reg(path, false).ok(); }

// A file's record: the generation of the install that wrote it and, once
// written, its stamp.
struct Record {
  Text generation, stamp;
  static Record Of(const Text& value) {
    const std::size_t bar = value.find(u'|');
    return bar == Text::npos ? Record{} : Record{value.substr(0, bar), value.substr(bar + 1)};
  }
};

bool IsProgram(const Text& name) { return EndsWith(name, u".exe") || EndsWith(name, u".dll"); }

// A game file the player changed since an install wrote it: one without a
// version resource (no .exe or .dll) whose size or time is not its record's,
// as Windows Installer keeps such a file. It is theirs: kept, and forgotten
// on uninstall. Nothing when its stamp could not be read.
std::optional<bool> Players(const Text& folder, const Text& name, const Record& record) {
  if (IsProgram(name) || record.stamp.empty()) return false;
  const std::optional<Text> now = Stamp(Join(folder, name));
  if (!now) return std::nullopt;
  return !now->empty() && *now != record.stamp;
}

// --- the journal -------------------------------------------------------------------------
using Line = std::vector<Text>;

// Appends lines of tab-separated fields, each flushed before it answers:
// what it says has happened is on the disk before the step it names.
class Journal {
 public:
  explicit Journal(Text path) : path_(std::move(path)) {
    file_ = sys::CreateFileW(path_.c_str(), sys::kGenericWrite, 0, sys::kCreateAlways);
  }
  ~Journal() { Close(); }
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  bool ok() const { return file_ != sys::kInvalidHandle; }
  template <typename... Fields>
  bool Add(const Fields&... fields) {
    Text line;
    ((line += (line.empty() ? Text() : Text(u"\t")) + Text(fields)), ...);
    // UTF-16 as Windows names files, so that a name read back is the very
    // name written, half a surrogate pair and all.
    const Text text = line + u"\n";
    const auto size = static_cast<std::uint32_t>(text.size() * sizeof(char16_t));
    std::uint32_t written = 0;
    if (!ok() || !sys::WriteFile(file_, text.data(), size, &written) || written != size ||
        !sys::FlushFileBuffers(file_))
      return false;
    lines_.push_back(Split(line));
    return true;
  }
  // What it has said, for undoing it.
  const std::vector<Line>& lines() const { return lines_; }
  void Close() {
    if (ok()) sys::CloseHandle(file_);
    file_ = sys::kInvalidHandle;
  }

  // Its whole lines (a line cut short by a power cut never counts); nothing
  // when it could not be read.
  static std::optional<std::vector<Line>> Read(const Text& path) {
    const sys::Handle file = sys::CreateFileW(path.c_str(), sys::kGenericRead, sys::kFileShareRead, sys::kOpenExisting);
    if (file == sys::kInvalidHandle) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    std::uint32_t read = 0;
    bool complete = true;
    while (bytes.size() < kJournalMax && (complete = sys::ReadFile(file, buffer, sizeof buffer, &read)) && read > 0)
      bytes.append(buffer, read);
    sys::CloseHandle(file);
    if (!complete) return std::nullopt;
    Text text(bytes.size() / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(char16_t));
    std::vector<Line> lines;
    for (std::size_t start = 0, end; (end = text.find(u'\n', start)) != Text::npos; start = end + 1)
      lines.push_back(Split(text.substr(start, end - start)));
    return lines;
  }

 private:
  static Line Split(const Text& text) {
    Line fields;
    for (std::size_t from = 0;;) {
      const std::size_t tab = text.find(u'\t', from);
      fields.push_back(text.substr(from, tab == Text::npos ? Text::npos : tab - from));
      if (tab == Text::npos) return fields;
      from = tab + 1;
    }
  }

  Text path_;
  sys::Handle file_ = sys::kInvalidHandle;
  std::vector<Line> lines_;
};

Text GenerationOf(const std::vector<Line>& lines) {
  for (const Line& line : lines)
    if (line.size() == 3 && line[0] == u"begin") return line[2];
  return Text();
}

// --- what a run leaves behind --------------------------------------------------------------
// A file of ours still in use goes aside under a free NAME.N.old, recorded first.
void MoveAside(const Text& folder, const Keys& keys, const Text& name, const Text& from) {
  int n = 1;
  while (Exists(Join(folder, name + u"." + Decimal(n) + u".old"))) ++n;
  const Text aside = name + u"." + Decimal(n) + u".old";
  if (!Reg(keys.moved(), true).Put(aside, u"s=")) return;
  sys::MoveFileExW(from.c_str(), Join(folder, aside).c_str(), 0);
}

// Deletes the file a record names, when it is ours; forgets the record once
// the file is gone, or kept as the player's. Answers whether it is still in use.
bool Forget(const Text& folder, Reg& records, const Text& name, bool ours_to_check, const Text& own_exe) {
  if (!Safe(name) || (!own_exe.empty() && SameText(Join(folder, name), own_exe))) return false;
  const Text path = Join(folder, name);
  if (ours_to_check) {
    const std::optional<Text> record = records.String(name);
    const std::optional<bool> theirs = record ? Players(folder, name, Record::Of(*record)) : std::nullopt;
    if (!theirs) return true;  // undecided: kept for a later look
    if (*theirs) {
      records.Put(name, u"-");
      return false;
    }
  }
  sys::DeleteFileW(path.c_str());
  if (Exists(path)) return true;
  for (Text parent = Parent(name); !parent.empty(); parent = Parent(parent))
    sys::RemoveDirectoryW(Join(folder, parent).c_str());
  records.Put(name, u"-");
  return false;
}

// Deletes the files moved aside that are no longer in use; answers how many
// still are, or nothing when the records could not be read.
std::optional<int> SweepMoved(const Text& folder, const Keys& keys) {
  Reg moved(keys.moved(), false);
  const std::optional<std::vector<Text>> names = moved.Names();
  if (!names) return std::nullopt;
  int in_use = 0;
  for (const Text& name : *names) in_use += Forget(folder, moved, name, false, Text());
  return in_use;
}

// After the commit: backups go (one in use goes aside), files an earlier
// version wrote that this one does not ship go, then the staging folder and
// the journal. Every step may be taken again.
void Finish(const Text& folder, const Keys& keys, const Text& generation, const std::vector<Line>& lines) {
  const Text backup = Join(folder, kBackup);
  for (const Line& line : lines) {
    if (line.size() != 2 || line[0] != u"replace") continue;
    const Text old = Join(backup, line[1]);
    if (Exists(old) && !sys::DeleteFileW(old.c_str())) MoveAside(folder, keys, line[1], old);
  }
  Reg files(keys.files(), false);
  for (const Text& name : files.Names().value_or(std::vector<Text>())) {
    const std::optional<Text> record = files.String(name);
    if (record && Record::Of(*record).generation != generation) Forget(folder, files, name, true, Text());
  }
  DeleteTree(Join(folder, kStaging));
  DeleteTree(backup);
  sys::DeleteFileW(Join(folder, kJournal).c_str());
}

// Undoes a commit that did not finish, from its journal, last step first.
void Rollback(const Text& folder, const Keys& keys, const std::vector<Line>& lines) {
  const Text backup = Join(folder, kBackup);
  std::uint32_t error = 0;
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    const Text& kind = (*line)[0];
    if (kind == u"add" && line->size() == 2) {
      // Only a file that did come from the staging folder goes.
      const Text path = Join(folder, (*line)[1]);
      if (There(Join(Join(folder, kStaging), (*line)[1])) == false)
        Retried([&] { return sys::DeleteFileW(path.c_str()) || !Exists(path); }, &error);
    } else if (kind == u"replace" && line->size() == 2) {
      const Text old = Join(backup, (*line)[1]), path = Join(folder, (*line)[1]);
      if (Exists(old))
        Retried([&] { return sys::MoveFileExW(old.c_str(), path.c_str(), sys::kMoveFileReplaceExisting); }, &error);
    } else if (kind == u"mkdir" && line->size() == 2) {
      sys::RemoveDirectoryW(Join(folder, (*line)[1]).c_str());
    } else if (kind == u"record" && line->size() == 3) {
      Reg(keys.files(), true).Put((*line)[1], (*line)[2]);
    } else if (kind == u"entry" && line->size() == 3) {
      Reg(keys.uninstall, true).Put((*line)[1], (*line)[2]);
    } else if (kind == u"entry-key") {
      sys::SHDeleteKeyW(sys::kCurrentUser, keys.uninstall.c_str());
    }
  }
  DeleteTree(Join(folder, kStaging));
  DeleteTree(backup);
  sys::DeleteFileW(Join(folder, kJournal).c_str());
}

// An interrupted commit: finished when its journal says it committed, else
// undone. False when its journal could not be read: nothing else may be done.
bool Recover(const Text& folder, const Keys& keys) {
  const Text journal = Join(folder, kJournal);
  if (!Exists(journal)) return true;
  const std::optional<std::vector<Line>> lines = Journal::Read(journal);
  if (!lines) return false;
  const bool committed = std::any_of(lines->begin(), lines->end(), [](const Line& l) { return l[0] == u"committed"; });
  if (committed)
    Finish(folder, keys, GenerationOf(*lines), *lines);
  else
    Rollback(folder, keys, *lines);
  return true;
}

Result Failed(Text what, const Text& file, std::uint32_t error) {
  Result r;
  r.status = Held(error) ? Status::kHeld : Status::kFailed;
  r.what = std::move(what);
  r.file = file;
  r.error = error;
  return r;
}

Text DriveOf(const Text& folder) { return folder.size() >= 2 && folder[1] == u':' ? folder.substr(0, 2) : folder; }

}  // namespace

Result Prepare(const Text& folder, const Keys& keys, const Text& recorded_folder, std::uint64_t needed,
               const Text& launcher, const Text& doctor) {
  if (!Recover(folder, keys)) return Failed(u"read", Join(folder, kJournal), GetLastError());
  DeleteTree(Join(folder, kStaging));  // what a run stopped while extracting left
  if (!recorded_folder.empty() && !SameText(recorded_folder, folder) && !Holds(folder, keys, launcher, doctor)) {
    // The records are of files elsewhere: this folder is simply the install.
    sys::SHDeleteKeyW(sys::kCurrentUser, keys.files().c_str());
    sys::SHDeleteKeyW(sys::kCurrentUser, keys.moved().c_str());
  }
  SweepMoved(folder, keys);
  Text probe = folder;
  while (!probe.empty() && !Exists(probe)) probe = Parent(probe);
  std::uint64_t free = 0;
  if (sys::GetDiskFreeSpaceExW((probe.empty() ? folder : probe).c_str(), &free) && free < needed) {
    Result r;
    r.status = Status::kNoSpace;
    r.needed = needed;
    r.drive = DriveOf(folder);
    return r;
  }
  return Result();
}

void Abandon(const Text& folder) {
  // A commit's journal is the next run's to act on, with the staged files it names.
  if (!Exists(Join(folder, kJournal))) DeleteTree(Join(folder, kStaging));
}

Result Commit(const Text& folder, const Keys& keys, std::uint32_t generation, const std::vector<EntryValue>& entry) {
  const Text staging = Join(folder, kStaging), backup = Join(folder, kBackup), journal_path = Join(folder, kJournal);
  std::vector<Text> staged;
  if (!ListFiles(staging, u"", &staged) || staged.empty())
    return Failed(u"read", staging, GetLastError() ? GetLastError() : sys::kErrorFileNotFound);
  const Text g = Decimal(generation);
  Journal journal(journal_path);
  const auto fail = [&](Text what, const Text& file, std::uint32_t error) {
    journal.Close();
    Rollback(folder, keys, journal.lines());
    return Failed(std::move(what), file, error);
  };
  if (!journal.Add(u"begin", u"install", g)) return fail(u"write", journal_path, GetLastError());
  // Their bytes on the disk before any of them takes an installed file's place.
  for (const Text& name : staged)
    if (!Flushed(Join(staging, name))) return fail(u"write", Join(staging, name), GetLastError());

  // The entry, written before a first install commits its first file: while
  // any file of ours is there, the player has a way to uninstall.
  std::uint64_t bytes = 0;
  for (const Text& name : staged) bytes += SizeOf(Join(staging, name));
  std::vector<EntryValue> values = entry;
  values.push_back({u"EstimatedSize", Text(), true, static_cast<std::uint32_t>((bytes + 1023) / 1024)});
  const auto write_entry = [&]() -> bool {
    Reg key(keys.uninstall, true);
    for (const EntryValue& v : values) {
      const Text raw = v.is_number ? u"n=" + Decimal(v.number) : u"s=" + v.text;
      const std::optional<Text> old = key.Raw(v.name);
      if (!old || !journal.Add(u"entry", v.name, *old) || !key.Put(v.name, raw)) return false;
    }
    return true;
  };
  const bool first = !KeyExists(keys.uninstall);
  if (first && (!journal.Add(u"entry-key") || !write_entry()))
    return fail(u"write", u"HKEY_CURRENT_USER\\" + keys.uninstall, GetLastError());

  Reg files(keys.files(), true);
  std::vector<Text> placed;
  std::uint32_t error = 0;
  for (const Text& name : staged) {
    const Text path = Join(folder, name), fresh = Join(staging, name);
    const std::optional<Text> read = files.Raw(name);
    if (!read) return fail(u"read", u"HKEY_CURRENT_USER\\" + keys.files(), GetLastError());
    const Text& old = *read;
    const Record record = Record::Of(old.rfind(u"s=", 0) == 0 ? old.substr(2) : Text());
    const std::optional<bool> players = Players(folder, name, record);
    if (!players) return fail(u"read", path, GetLastError());
    const bool theirs = *players;
    // A record is written before the file it records is committed.
    if (!journal.Add(u"record", name, old) || !files.Put(name, u"s=" + g + u"|" + (theirs ? record.stamp : Text())))
      return fail(u"write", u"HKEY_CURRENT_USER\\" + keys.files(), GetLastError());
    if (theirs) continue;
    for (const Text& made : MissingFolders(folder, name))
      if (!journal.Add(u"mkdir", made) || !sys::CreateDirectoryW(Join(folder, made).c_str()))
        return fail(u"write", Join(folder, made), GetLastError());
    error = 0;
    const std::optional<bool> installed = There(path);
    if (!installed) return fail(u"read", path, GetLastError());
    if (*installed) {
      // Replaced, never missing: the old file goes to the backup folder as
      // the new one takes its name (a running program's too).
      sys::CreateDirectoryW(backup.c_str());
      for (const Text& made : MissingFolders(backup, name)) sys::CreateDirectoryW(Join(backup, made).c_str());
      const Text old_copy = Join(backup, name);
      if (!journal.Add(u"replace", name) ||
          !Retried([&] { return sys::ReplaceFileW(path.c_str(), fresh.c_str(), old_copy.c_str()); }, &error))
        return fail(u"replace", path, error ? error : GetLastError());
    } else if (!journal.Add(u"add", name) ||
               !Retried([&] { return sys::MoveFileExW(fresh.c_str(), path.c_str(), sys::kMoveFileWriteThrough); },
                        &error)) {
      return fail(u"write", path, error ? error : GetLastError());
    }
    placed.push_back(name);
  }
  for (const Text& name : placed) {
    const std::optional<Text> stamp = Stamp(Join(folder, name));
    if (!stamp) return fail(u"read", Join(folder, name), GetLastError());
    if (!files.Put(name, u"s=" + g + u"|" + *stamp))
      return fail(u"write", u"HKEY_CURRENT_USER\\" + keys.files(), GetLastError());
  }
  // An update's entry names the new version only once every file is in place.
  if (!first && !write_entry()) return fail(u"write", u"HKEY_CURRENT_USER\\" + keys.uninstall, GetLastError());
  if (!journal.Add(u"committed")) return fail(u"write", journal_path, GetLastError());
  journal.Close();
  Finish(folder, keys, g, journal.lines());
  return Result();
}

Result Remove(const Text& folder, const Keys& keys, const Text& own_exe) {
  if (!Recover(folder, keys)) return Failed(u"read", Join(folder, kJournal), GetLastError());
  Result r;
  const std::optional<int> moved = SweepMoved(folder, keys);
  Reg files(keys.files(), false);
  const std::optional<std::vector<Text>> names = files.Names();
  if (!moved || !names) return Failed(u"read", u"HKEY_CURRENT_USER\\" + keys.own, GetLastError());
  r.in_use = *moved;
  for (const Text& name : *names) r.in_use += Forget(folder, files, name, true, own_exe);
  // The entry goes once every recorded file it could delete is gone.
  const auto deleted = [](const Text& key) {
    const std::int32_t status = sys::SHDeleteKeyW(sys::kCurrentUser, key.c_str());
    return status == 0 || status == static_cast<std::int32_t>(sys::kErrorFileNotFound);
  };
  if (!deleted(keys.uninstall)) return Failed(u"write", u"HKEY_CURRENT_USER\\" + keys.uninstall, GetLastError());
  if (r.in_use == 0) {
    if (!deleted(keys.own)) return Failed(u"write", u"HKEY_CURRENT_USER\\" + keys.own, GetLastError());
    sys::RemoveDirectoryW(folder.c_str());  // kept when the player's own files are in it
  }
  return r;
}

bool Holds(const Text& folder, const Keys& keys, const Text& launcher, const Text& doctor) {
  if (folder.empty()) return false;
  Reg files(keys.files(), false);
  for (const Text& name : {launcher, doctor}) {
    const std::optional<Text> now = Stamp(Join(folder, name));
    const std::optional<Text> record = files.String(name);
    if (!now || now->empty() || !record) return false;
    const Text recorded = Record::Of(*record).stamp;
    if (!recorded.empty() && recorded != *now) return false;
  }
  return true;
}

}  // namespace installer
