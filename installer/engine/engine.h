// The players' installer's work on files, as a transaction. NSIS extracts
// every new file into a staging folder inside the game's folder; the engine
// then commits them by renames alone, each step written to a journal in the
// game's folder and flushed before it is taken, and undoes them on failure.
// A run killed at any instant leaves every game file whole, and the next run
// of any installer or uninstaller finishes or undoes it first.
//
// It also owns the install's records (which files installs wrote, with the
// generation and stamp of each; which were moved aside), the decision that a
// file is the player's, the sweep of leftovers and the order in which the
// Apps & features entry is written and removed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace installer {

using Text = std::u16string;

// The game's folder's own entries: the files being installed, the files they
// replaced, and the journal.
inline constexpr char16_t kStaging[] = u".setup-new";
inline constexpr char16_t kBackup[] = u".setup-old";
inline constexpr char16_t kJournal[] = u".setup-journal";

// Where the install keeps its records, under HKEY_CURRENT_USER.
struct Keys {
  Text own;        // Software\<identity>: the records
  Text uninstall;  // Software\Microsoft\Windows\CurrentVersion\Uninstall\<identity>: the entry
  Text files() const { return own + u"\\Installed files"; }
  Text moved() const { return own + u"\\Moved aside"; }
};

// One value of the Apps & features entry: text, or a number when is_number.
struct EntryValue {
  Text name, text;
  bool is_number = false;
  std::uint32_t number = 0;
};

enum class Status {
  kDone,
  kNoSpace,  // needed bytes are not free on drive
  kHeld,     // file is held by another program
  kFailed,   // what failed, with error
};

struct Result {
  Status status = Status::kDone;
  Text file, drive, what;
  std::uint64_t needed = 0;
  std::uint32_t error = 0;
  int in_use = 0;  // Remove: files still in use
};

// Before anything of a run is written: finishes or undoes an interrupted run,
// deletes files moved aside that are no longer in use and what a run stopped
// while extracting left, forgets the records of another folder
// (recorded_folder) that no longer holds the game, and checks that needed
// bytes are free on the folder's drive.
Result Prepare(const Text& folder, const Keys& keys, const Text& recorded_folder, std::uint64_t needed,
               const Text& launcher, const Text& doctor);

// After Prepare, in the same run: puts the staged files in place and records
// them, as install generation; writes the entry before the first file of a
// first install, after the last of an update. On failure everything is as
// it was.
Result Commit(const Text& folder, const Keys& keys, std::uint32_t generation, const std::vector<EntryValue>& entry);

// What an extraction stopped by an error left: the staging folder goes.
void Abandon(const Text& folder);

// The uninstall: deletes every recorded file that is ours and not in use
// (own_exe, the uninstaller running in place, stays), then the entry; once
// none is in use, the records and the folder.
Result Remove(const Text& folder, const Keys& keys, const Text& own_exe);

// Whether folder holds the install: its launcher and doctor are the ones
// recorded (or, as an earlier version recorded no stamp, are there).
bool Holds(const Text& folder, const Keys& keys, const Text& launcher, const Text& doctor);

}  // namespace installer
