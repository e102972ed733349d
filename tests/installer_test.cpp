// The installer engine over the simulated Windows' disk, in the three runs a
// player's life has: a first install, an update (over a running launcher, a
// settings file the player changed, and a file the new version dropped) and
// an uninstall.
//
// Crash sweep: each run stopped after its k-th call, for every k, as a kill
// would, and again as a power cut (what was not flushed is lost): every game
// file left is whole, one version's bytes; then the same run again ends as
// one that was never stopped. Failure sweep: each call failed in turn: the
// run ends as a whole success, or as it started with a failure answered.
#include <functional>
#include <map>
#include <set>
#include <string>

#include "installer/engine/engine.h"
#include "tests/sim_test.h"

namespace {

using installer::Status;
using installer::Text;
using Files = std::map<Text, std::string>;

const Text kFolder = u"C:\\Games\\Sky Quest";
const installer::Keys kKeys{u"Software\\Sky Games - Sky Quest",
                            u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sky Games - Sky Quest"};
const Text kLauncher = u"skyquest.exe", kDoctor = u"skyquest-doctor.exe";

// The two versions' files (the uninstaller among them, written into the
// staging folder as NSIS writes it), and what the player made of settings.
const Files kFirst = {{u"skyquest.exe", "launcher 2.1"},
                      {u"skyquest-doctor.exe", "doctor 2.1"},
                      {u"skyquest-uninstall.exe", "uninstaller 2.1"},
                      {u"play.url", "[InternetShortcut]"},
                      {u"settings.ini", "volume=10"},
                      {u"readme.txt", "Sky Quest 2.1"},
                      {u"data\\pack1.dat", std::string(3000, '1')}};
const Files kSecond = {{u"skyquest.exe", "launcher 2.2"},
                       {u"skyquest-doctor.exe", "doctor 2.2"},
                       {u"skyquest-uninstall.exe", "uninstaller 2.2"},
                       {u"play.url", "[InternetShortcut]"},
                       {u"settings.ini", "volume=10"},
                       {u"data\\pack1.dat", std::string(5000, '2')},
                       {u"data\\pack2.dat", std::string(4000, '3')}};
const std::string kPlayersSettings = "volume=3";

std::vector<installer::EntryValue> EntryOf(const char16_t* version) {
  return {{u"DisplayName", u"Sky Quest"}, {u"DisplayVersion", version}, {u"InstallLocation", kFolder}};
}

Text Path(const Text& name) { return kFolder + u"\\" + name; }

bool Internal(const Text& path) { return path.find(u"\\.setup-") != Text::npos; }

// What NSIS does before the engine commits: every new file extracted into
// the staging folder, written but not flushed.
void Stage(const Files& version) {
  auto& disk = sim::TheWorld().disk;
  for (Text folder = kFolder; !folder.empty() && folder.size() > 2; folder = folder.substr(0, folder.rfind(u'\\')))
    disk[folder].folder = true;
  const Text staging = Path(installer::kStaging);
  disk[staging].folder = true;
  for (const auto& [name, bytes] : version) {
    if (name.find(u'\\') != Text::npos) disk[staging + u"\\" + name.substr(0, name.find(u'\\'))].folder = true;
    sim::DiskFile& file = disk[staging + u"\\" + name];
    file = sim::DiskFile{};
    file.bytes.assign(bytes.begin(), bytes.end());
    file.written = 133000000000000000ULL + static_cast<std::uint64_t>(sim::TheWorld().now_ms++) * 10000;
  }
}

// An install or update as the installer runs it: the engine prepares, NSIS
// extracts, the engine commits.
Status Install(const Files& version, std::uint32_t generation, const char16_t* shown) {
  const installer::Result prepared = installer::Prepare(kFolder, kKeys, kFolder, 1 << 20, kLauncher, kDoctor);
  if (prepared.status != Status::kDone) return prepared.status;
  Stage(version);
  return installer::Commit(kFolder, kKeys, generation, EntryOf(shown)).status;
}

Status Uninstall() {
  const installer::Result removed = installer::Remove(kFolder, kKeys, Text());
  return removed.status != Status::kDone ? removed.status : removed.in_use == 0 ? Status::kDone : Status::kHeld;
}

// A file's stamp as the engine and NSIS write it: "SIZE:HIGH:LOW", signed.
std::string StampOf(const sim::DiskFile& f) {
  const auto signed32 = [](std::uint64_t n) { return std::to_string(static_cast<std::int32_t>(n & 0xFFFFFFFF)); };
  return signed32(f.bytes.size()) + ":" + signed32(f.written >> 32) + ":" + signed32(f.written);
}

std::string Narrow(const Text& t) {
  std::string out;
  for (char16_t c : t) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::map<Text, std::string> Values(const Text& key) {
  std::map<Text, std::string> out;
  const auto& keys = sim::TheWorld().keys;
  auto found = keys.find(u"HKCU\\" + key);
  if (found == keys.end()) return out;
  for (const auto& [name, value] : found->second.values)
    out[name] = value.type == sim::kRegDword ? std::to_string(value.data.size())
                                             : Narrow(sim::FromUtf16(value.data.data(), value.data.size()));
  return out;
}

// The install as a player and support would tell it: the game's files, the
// records (each stamp told as its file's own or another), the files moved
// aside and the entry; and what of the engine's own (staging, backups,
// journal, their folders) is still in the game's folder. Generations may
// advance: they are left out.
struct State {
  Files files;
  std::map<Text, std::string> records, moved, entry;
  std::set<Text> internal;
  bool operator==(const State& o) const {
    return files == o.files && records == o.records && moved == o.moved && entry == o.entry && internal == o.internal;
  }
};

std::ostream& operator<<(std::ostream& out, const State& s) {
  out << "files:";
  for (const auto& [name, bytes] : s.files) out << " " << Narrow(name) << "=" << bytes.substr(0, 16);
  out << "; records:";
  for (const auto& [name, how] : s.records) out << " " << Narrow(name) << "=" << how;
  out << "; moved:";
  for (const auto& [name, how] : s.moved) out << " " << Narrow(name);
  out << "; entry:";
  for (const auto& [name, value] : s.entry) out << " " << Narrow(name) << "=" << value;
  out << "; the engine's own:";
  for (const Text& path : s.internal) out << " " << Narrow(path);
  return out;
}

State Now() {
  State s;
  const auto& disk = sim::TheWorld().disk;
  for (const auto& [path, file] : disk) {
    if (path.rfind(kFolder + u"\\", 0) != 0) continue;
    if (Internal(path))
      s.internal.insert(path.substr(kFolder.size() + 1));
    else if (!file.folder)
      s.files[path.substr(kFolder.size() + 1)] = std::string(file.bytes.begin(), file.bytes.end());
  }
  for (const auto& [name, value] : Values(kKeys.files())) {
    const std::string stamp = value.substr(value.find('|') + 1);
    const auto file = disk.find(Path(name));
    s.records[name] = stamp.empty()                    ? "unstamped"
                      : file == disk.end()             ? "its file gone"
                      : StampOf(file->second) == stamp ? "its file's stamp"
                                                       : "another stamp";
  }
  s.moved = Values(kKeys.moved());
  s.entry = Values(kKeys.uninstall);
  return s;
}

// The name a moved-aside file had: "skyquest.exe.1.old" was skyquest.exe.
Text Original(const Text& name) {
  const std::size_t old = name.rfind(u".old");
  if (old == Text::npos || old + 4 != name.size()) return name;
  const std::size_t dot = name.rfind(u'.', old - 1);
  return dot == Text::npos ? name : name.substr(0, dot);
}

// After a stop: every game file there is one version's (or the player's)
// whole; an update leaves the launcher there; while a recorded file of ours
// that could be deleted is there, so is the entry (which a failed delete,
// looking like a file in use, may outlive).
void ExpectWhole(bool update, bool entry_kept = true) {
  const State s = Now();
  for (const auto& [name, bytes] : s.files) {
    const Text was = Original(name);
    const bool known = (kFirst.count(was) && kFirst.at(was) == bytes) ||
                       (kSecond.count(was) && kSecond.at(was) == bytes) ||
                       (was == u"settings.ini" && bytes == kPlayersSettings);
    EXPECT_TRUE(known) << Narrow(name) << " holds " << bytes.size() << " bytes of no version: " << bytes.substr(0, 16);
  }
  if (update) {
    EXPECT_TRUE(s.files.count(kLauncher)) << "the launcher is not there: " << s;
  }
  bool deletable = false;
  for (const auto& [name, how] : s.records) {
    const auto file = sim::TheWorld().disk.find(Path(name));
    if (file != sim::TheWorld().disk.end()) deletable = deletable || !file->second.running;
  }
  EXPECT_TRUE(!entry_kept || !deletable || !s.entry.empty()) << "files of ours are there, the entry is not: " << s;
}

// The three runs, each from the world it starts in.
struct LifeRun {
  const char* what;
  std::function<void()> before;
  std::function<Status()> run;
  bool update = false;
};

void Installed(const Files& version, std::uint32_t generation, const char16_t* shown) {
  ASSERT_EQ(Install(version, generation, shown), Status::kDone);
}

const LifeRun kRuns[] = {
    {"a first install", [] {}, [] { return Install(kFirst, 1, u"2.1"); }},
    {"an update over a running launcher, a settings file the player changed, and a file it drops",
     [] {
       Installed(kFirst, 1, u"2.1");
       auto& disk = sim::TheWorld().disk;
       disk[Path(kLauncher)].running = true;
       sim::DiskFile& settings = disk[Path(u"settings.ini")];
       settings.bytes.assign(kPlayersSettings.begin(), kPlayersSettings.end());
       settings.durable = settings.bytes;
       settings.written += 10000000;
     },
     [] { return Install(kSecond, 2, u"2.2"); }, true},
    {"an uninstall",
     [] {
       Installed(kFirst, 1, u"2.1");
       Installed(kSecond, 2, u"2.2");
     },
     Uninstall},
};

class InstallerTest : public SimTest {};

TEST_F(InstallerTest, KilledAtAnyCallTheGameStaysWholeAndTheNextRunFinishes) {
  for (const bool power_cut : {false, true}) {
    for (const LifeRun& run : kRuns) {
      SCOPED_TRACE(std::string(run.what) + (power_cut ? ", a power cut" : ", a kill"));
      SetUp();
      run.before();
      run.run();
      const State uninterrupted = Now();
      EXPECT_TRUE(uninterrupted.internal.empty()) << "a run left its own behind: " << uninterrupted;
      std::size_t stops = 0;
      for (std::size_t k = 1;; ++k) {
        SetUp();
        run.before();
        world().stop_after = world().calls.size() + k;
        run.run();
        const bool killed = world().Killed();
        world().EndProcess();
        if (!killed) break;  // it ended within k calls
        ++stops;
        if (power_cut) world().PowerCut();
        SCOPED_TRACE("stopped after call " + std::to_string(k));
        ExpectWhole(run.update);
        run.run();
        EXPECT_EQ(Now(), uninterrupted);
        if (HasFailure()) return;
      }
      RecordProperty(std::string(run.what) + (power_cut ? " (power cut)" : " (kill)"), static_cast<int>(stops));
      EXPECT_GT(stops, 10u);
    }
  }
}

TEST_F(InstallerTest, FailingAnyCallEndsWhollyDoneOrAsBefore) {
  for (const LifeRun& run : kRuns) {
    SCOPED_TRACE(run.what);
    SetUp();
    run.before();
    run.run();
    const State done = Now();
    std::size_t failures = 0;
    for (std::size_t k = 1;; ++k) {
      SetUp();
      run.before();
      const State before = Now();
      const std::size_t base = world().calls.size();
      world().fail_call = base + k;
      const Status status = run.run();
      world().fail_call = 0;
      if (world().calls.size() < base + k) break;
      ++failures;
      SCOPED_TRACE("call " + std::to_string(k) + " failed: " + sim::NameOf(world().calls[base + k - 1]));
      // What a failed clean-up leaves of the engine's own, a later run removes.
      State after = Now();
      after.internal = before.internal;
      if (status == Status::kDone) {
        // Leftovers a later run removes are allowed: files moved aside, and dropped files still recorded.
        State kept = after;
        for (const auto& [name, _] : after.moved) kept.files.erase(name), kept.moved.erase(name);
        for (const auto& [name, _] : done.moved)
          kept.files[name] = done.files.at(name), kept.moved[name] = done.moved.at(name);
        for (const auto& [name, _] : after.records)
          if (!done.records.count(name)) kept.files.erase(name), kept.records.erase(name);
        EXPECT_EQ(kept, done);
      } else if (std::string(run.what) != "an uninstall") {
        EXPECT_EQ(after, before);
      } else {
        ExpectWhole(false, false);
        for (const auto& [name, _] : after.files)
          EXPECT_TRUE(after.records.count(name)) << Narrow(name) << " unrecorded";
      }
      if (HasFailure()) return;
    }
    RecordProperty(std::string(run.what) + " (failures)", static_cast<int>(failures));
    EXPECT_GT(failures, 10u);
  }
}

// A scanner holds a pack through the update for a while: let go within 5 s,
// the update waits for it; held longer, it fails with the install as it was.
TEST_F(InstallerTest, AHeldFileIsWaitedForUpToFiveSeconds) {
  const struct {
    std::int64_t held_ms;
    Status ends;
  } kHolds[] = {{4800, Status::kDone}, {5300, Status::kHeld}};
  for (const auto& hold : kHolds) {
    SCOPED_TRACE("held for " + std::to_string(hold.held_ms) + " ms");
    SetUp();
    Installed(kFirst, 1, u"2.1");
    const State before = Now();
    sim::DiskFile& pack = world().disk[Path(u"data\\pack1.dat")];
    pack.held = true;
    pack.let_go_ms = world().now_ms + hold.held_ms;
    EXPECT_EQ(Install(kSecond, 2, u"2.2"), hold.ends);
    if (hold.ends == Status::kHeld) {
      EXPECT_EQ(Now(), before);
    }
  }
}

}  // namespace
