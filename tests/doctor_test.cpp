// The doctor over the simulated Windows: its facts and verdict must be the
// launcher's own. The simulated shell accepts every launch unless told
// otherwise; here it refuses, as the doctor's own platform does (Wine proves
// that one starts nothing).
//
// tests/doctor_reports.txt holds each report of the first table whole. To
// write it anew from the current code, for a reviewer to diff:
//   REWRITE_DOCTOR_REPORTS=1 build/host/tests/host_tests --gtest_filter=DoctorTest.TellsWhatTheLauncherWouldDo
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>

#include "app/launch.h"
#include "doctor/cli.h"
#include "doctor/doctor.h"
#include "doctor/journal.h"
#include "tests/doctor_world.h"
#include "tests/sim_test.h"
#include "text/utf8.h"

namespace {

using doctor::TheDoctorWorld;
using sim::World;
using text::Text;

bool Has(const Text& s, const Text& piece) { return s.find(piece) != Text::npos; }

// A JSON string as the report writes one: all but printable ASCII escaped.
Text JsonString(const Text& s) {
  Text out = u"\"";
  for (char16_t c : s) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c));
    out += c == u'"' || c == u'\\' ? Text{u'\\', c} : c >= 0x20 && c < 0x7F ? Text(1, c) : Text(hex, hex + 6);
  }
  return out + u"\"";
}

// The whole report, text then JSON, of each row of the first table, by the row's name.
std::map<std::string, std::string> ExpectedReports() {
  std::ifstream file(LAUNCHER_TESTS_DIR "/doctor_reports.txt", std::ios::binary);
  std::map<std::string, std::string> reports;
  std::string line, *report = nullptr;
  while (std::getline(file, line)) {
    if (line.rfind("=== ", 0) == 0)
      report = &reports[line.substr(4)];
    else if (report != nullptr)
      *report += line + "\n";
  }
  return reports;
}

std::string WholeReport(const doctor::Report& r) {
  std::string bytes = text::Utf8WithCrLf(doctor::FormatText(r) + doctor::FormatJson(r));
  bytes.erase(std::remove(bytes.begin(), bytes.end(), '\r'), bytes.end());
  return bytes;
}

// The simulation's log, as the doctor's Windows layer writes its journal.
void ToJournal(const sim::RegistryCall& c) {
  switch (c.call) {
    case sim::Call::RegOpenKeyExW:
      return doctor::journal::RecordKeyOpen(c.base, c.name.c_str(), c.access, c.status, c.opened);
    case sim::Call::RegQueryValueExW:
      return doctor::journal::RecordValueQuery(c.base, c.name.c_str(), c.status, &c.type,
                                               c.with_data ? c.data.data() : nullptr, &c.size);
    default: {
      std::u16string out = c.text + u'\0';
      return doctor::journal::RecordShellQuery(c.access, c.status, c.with_data ? out.c_str() : nullptr, &c.size);
    }
  }
}

// A browser's version resource with one table of strings, listed in its
// translation table (none: not listed).
sim::VersionResource Resource(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& translations,
                              const std::u16string& table, const std::u16string& product, const std::u16string& version,
                              const std::u16string& company) {
  const std::u16string at = u"\\StringFileInfo\\" + table + u"\\";
  return sim::VersionResource::Of(
      translations, {{at + u"ProductName", product}, {at + u"FileVersion", version}, {at + u"CompanyName", company}});
}

// Every doctor test starts from one world: the legacy choice names Br.HTML,
// whose program is there, as is fscommand\wgame.exe; the shell refuses, and
// the registry calls go to the doctor's journal.
class DoctorTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    doctor::journal::Clear();
    TheDoctorWorld() = {};
    world().on_registry_call = ToJournal;
    world().shell_accepts = false;
    RegisterChoice(world(), kUserChoice, u"Br.HTML", u"\"C:\\Browser\\browser.exe\" -url \"%1\"");
    world().files[u"C:\\Browser\\browser.exe"] = {};
    world().files[u"fscommand\\wgame.exe"] = {};
  }
  static doctor::DoctorWorld& doctor_world() { return TheDoctorWorld(); }
  static int Run(const std::vector<Text>& args) { return doctor::RunDoctor(u"gamestart", args); }
};

TEST_F(DoctorTest, TellsWhatTheLauncherWouldDo) {
  struct Case {
    const char* what;
    std::function<void(World&)> setup;
  } cases[] = {
      // clang-format off
      {"found via the newer key",
       [](World& w) {
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", u"\"C:\\New\\new.exe\" %1");
         w.files[u"C:\\New\\new.exe"] = {};
       }},
      {"the records disagree, and the shell honours the legacy one",
       [](World& w) {
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", u"\"C:\\New\\new.exe\" %1");
         w.shell_answers = {{platform::kAssocStrProgId, {u"Br.HTML"}}};
       }},
      {"legacy fallback", [](World& w) { w.KeyAt(kUserChoiceLatest).granted = 0x20009; }},
      {"nothing registered", [](World& w) { w.keys.clear(); }},
      {"DWORD ProgId", [](World& w) { w.SetRaw(kUserChoice, u"Progid", sim::kRegDword, {1, 0, 0, 0}); }},
      {"packaged browser: a class without an open command",
       [](World& w) { w.keys.erase(u"HKCR\\Br.HTML\\shell\\open\\command"); }},
      {"unquoted program",
       [](World& w) { w.SetString(u"HKCR\\Br.HTML\\shell\\open\\command", u"", u"C:\\B\\b.exe %1"); }},
      {"version query fails", [](World& w) { w.version_fails = true; }},
      {"Windows 8 and later report 6.2", [](World&) {}},
      {"browser already running, one process with a window",
       [](World& w) {
         w.processes = {{u"explorer.exe"}, {u"Browser.exe", 0, sim::kForever, 40}, {u"browser.exe", 0, sim::kForever, 44}};
         w.top_windows = {{44}, {40, 0, sim::kForever, false}};
       }},
      {"the launcher's own name holds the watched one",
       [](World& w) {
         w.SetString(u"HKCR\\Br.HTML\\shell\\open\\command", u"", u"\"C:\\G\\start.exe\" %1");
         w.files[u"C:\\G\\start.exe"] = {};
       }},
      {"an expandable program path is not checked",
       [](World& w) {
         w.SetString(u"HKCR\\Br.HTML\\shell\\open\\command", u"", u"\"%ProgramFiles%\\B\\b.exe\" %1");
       }},
      {"Windows XP: the http class",
       [](World& w) {
         w.version = sim::kWindowsXp;
         w.SetString(kHttpCommand, u"", u"\"C:\\Browser\\browser.exe\" \"%1\"");
       }},
      {"Windows XP: a command spelling .EXE",
       [](World& w) {
         w.version = sim::kWindowsXp;
         w.SetString(kHttpCommand, u"", u"\"C:\\B\\B.EXE\" \"%1\"");
       }},
      {"Windows XP: no http class", [](World& w) { w.version = sim::kWindowsXp; }},
      {"Windows XP: the http class's command is not text",
       [](World& w) {
         w.version = sim::kWindowsXp;
         w.SetRaw(kHttpCommand, u"", sim::kRegDword, {1, 0, 0, 0});
       }},
      {"an empty choice, and the classes' root command is not text",
       [](World& w) {
         w.SetString(kUserChoice, u"Progid", u"");
         w.SetRaw(u"HKCR\\shell\\open\\command", u"", sim::kRegDword, {1, 0, 0, 0});
       }},
      {"play.url a directory", [](World& w) { w.files[u"play.url"] = sim::File{platform::kFileAttributeDirectory}; }},
      {"play.url locked",
       [](World& w) { w.files[u"play.url"] = sim::File{0x20, platform::kErrorSharingViolation, true}; }},
      // How Windows, the machine and the browser's program name themselves.
      {"Windows 11 24H2, which stores its product name as Windows 10; the browser names itself",
       [](World& w) {
         sim::kWindows11_24H2.InstallIn(w);
         w.version_resources[u"C:\\Browser\\browser.exe"] =
             Resource({{0x0409, 0x04B0}}, u"040904b0", u"Google Chrome", u"131.0.6778.86", u"Google LLC");
       }},
      {"Windows Server 2025 keeps its name; the browser's resource lists Russian first",
       [](World& w) {
         sim::kWindowsServer2025.InstallIn(w);
         // The Russian table has no FileVersion.
         w.version_resources[u"C:\\Browser\\browser.exe"] = sim::VersionResource::Of(
             {{0x0419, 0x04B0}, {0x0409, 0x04B0}},
             {{u"\\StringFileInfo\\041904B0\\ProductName", u"Яндекс Браузер"},
              {u"\\StringFileInfo\\041904B0\\CompanyName", u"ООО «Яндекс»"},
              {u"\\StringFileInfo\\040904B0\\ProductName", u"Yandex Browser"},
              {u"\\StringFileInfo\\040904B0\\FileVersion", u"24.12.0.1772"},
              {u"\\StringFileInfo\\040904B0\\CompanyName", u"YANDEX LLC"}});
       }},
      {"an ARM64 laptop runs the doctor, an x86 program, emulated", [](World& w) { sim::kWindows11Arm64.InstallIn(w); }},
      {"Windows 10 22H2; the browser's strings are in Windows-1252's table, which it does not list",
       [](World& w) {
         sim::kWindows10_22H2.InstallIn(w);
         w.version_resources[u"C:\\Browser\\browser.exe"] =
             Resource({}, u"040904E4", u"Firefox", u"133.0", u"Mozilla Corporation");
       }},
      {"Windows 7 SP1, before IsWow64Process2; Chrome 109",
       [](World& w) {
         sim::kWindows7Sp1.InstallIn(w);
         w.version_resources[u"C:\\Browser\\browser.exe"] =
             Resource({{0x0409, 0x04B0}}, u"040904B0", u"Google Chrome", u"109.0.5414.120", u"Google LLC");
       }},
      {"Windows 2000: no registry views and none of the architecture calls",
       [](World& w) {
         w.version = sim::kWindows2000;
         w.native_machine = platform::kMachineI386;
         w.has_is_wow64_process2 = w.has_is_wow64_process = w.has_native_system_info = false;
         w.SetString(sim::kCurrentVersionKey, u"ProductName", u"Microsoft Windows 2000");
         w.SetString(sim::kCurrentVersionKey, u"CurrentBuildNumber", u"2195");
         w.SetString(kHttpCommand, u"", u"\"C:\\Browser\\browser.exe\" \"%1\"");
       }},
      {"the Windows key's values of other types; a version resource cut short, its strings unterminated, "
       "over long and with control characters",
       [](World& w) {
         sim::kWindows11_24H2.InstallIn(w);
         w.SetRaw(sim::kCurrentVersionKey, u"ProductName", sim::kRegDword, {1, 0, 0, 0});
         w.SetString(sim::kCurrentVersionKey, u"UBR", u"4061");
         w.SetString(sim::kCurrentVersionKey, u"DisplayVersion", u"");
         // Its table lists a language it has no strings for; the product
         // name's 128th character is the first half of an emoji.
         sim::VersionResource r = Resource({{0x0407, 0x04E4}}, u"040904B0",
                                           u"\x1b[2J\rBrowser\n\x85" + std::u16string(113, u'x') + u"\U0001F600!", u"1.0",
                                           u"Maker");
         r.values[u"\\StringFileInfo\\040904B0\\FileVersion"] = {r.block.size() + 64, 10};  // past the end
         r.values[u"\\StringFileInfo\\040904B0\\CompanyName"].length = 400;                 // past the end too
         r.block.resize(r.block.size() - 2);  // and no terminator before it
         w.version_resources[u"C:\\Browser\\browser.exe"] = r;
       }},
      {"the Windows key refused; version.dll does not load",
       [](World& w) {
         sim::kWindows10_22H2.InstallIn(w);
         w.KeyAt(sim::kCurrentVersionKey).granted = 0;
         w.version_dll_loads = false;
       }},
      // clang-format on
  };
  const bool rewrite = std::getenv("REWRITE_DOCTOR_REPORTS") != nullptr;
  const std::map<std::string, std::string> expected = ExpectedReports();
  std::string rewritten;
  ForEachRow(cases, [&](const Case& c) {
    c.setup(world());
    const std::string whole = WholeReport(doctor::Diagnose(u"gamestart"));
    rewritten += "=== " + std::string(c.what) + "\n" + whole;
    if (rewrite) return;
    const auto found = expected.find(c.what);
    ASSERT_NE(found, expected.end()) << "no whole report for this row in doctor_reports.txt";
    EXPECT_EQ(whole, found->second);
  });
  if (rewrite) std::ofstream(LAUNCHER_TESTS_DIR "/doctor_reports.txt", std::ios::binary) << rewritten;
}

TEST_F(DoctorTest, ReportsTheLaunchAsTheLauncherWouldMakeIt) {
  world().files.clear();
  world().files[u"play.url"] = sim::File{platform::kFileAttributeReparsePoint, 0, true, platform::kErrorAccessDenied};
  const doctor::Report r = doctor::Diagnose(u"gamestart");
  EXPECT_EQ(r.launch_file, u"\"C:\\Browser\\browser.exe\"");
  EXPECT_EQ(r.launch_parameters, u" -url \"" + Text(app::GameAddress) + u"\"");
  EXPECT_TRUE(r.program_file_missing);
  ASSERT_EQ(r.follow_ups.size(), 2u);
  EXPECT_FALSE(r.follow_ups[0].present);
  EXPECT_EQ(r.follow_ups[0].why, u"a link whose target is missing or cannot be opened");
  EXPECT_EQ(r.follow_ups[1].why, u"its folder is not found");
  // Every character outside printable ASCII is escaped, so the object survives any code page.
  EXPECT_TRUE(Has(doctor::FormatJson(r), u"\"file\":\"\\\"C:\\\\Browser\\\\browser.exe\\\"\""));
  doctor::Report accented = r;
  accented.verdict = u"caf\u00e9\n";
  EXPECT_TRUE(Has(doctor::FormatJson(accented), u"\"verdict\":\"caf\\u00e9\\u000a\""));
}

TEST_F(DoctorTest, ReportsWhateverCallFails) {
  for (std::size_t k = 1;; ++k) {
    SetUp();
    world().SetRaw(kUserChoiceLatest, u"ProgId", sim::kRegBinary, std::vector<std::uint8_t>(7, 0xFF));
    sim::kWindows11_24H2.InstallIn(world());
    world().version_resources[u"C:\\Browser\\browser.exe"] =
        Resource({{0x0409, 0x04B0}}, u"040904B0", u"Browser", u"1.0", u"Maker");
    world().processes = {{u"browser.exe"}};
    world().files[u"play.url"] = sim::File{platform::kFileAttributeReparsePoint};
    world().fail_call = k;
    const doctor::Report r = doctor::Diagnose(u"gamestart");
    EXPECT_FALSE(r.verdict.empty()) << "call " << k;
    EXPECT_TRUE(world().open_handles.empty()) << "call " << k;
    if (world().calls.size() < k) break;
  }
}

// The doctor run as a program: where the report goes, and what it is headed with.
TEST_F(DoctorTest, DoubleClickedItSavesTheReportWhereItCan) {
  const doctor::DoctorWorld folders;
  const Text desktop = folders.desktop_folder, here = folders.current_folder, temp = folders.temp_folder,
             name = u"\\gamestart-doctor-report-2026-12-09-140322.txt";
  struct Case {
    std::vector<Text> refusing;
    Text saved_as;  // empty: nowhere
  } cases[] = {
      {{}, desktop + name},
      {{desktop}, here + name},
      {{desktop, here}, temp + name},
      {{desktop, here, temp}, u""},
  };
  ForEachRow(cases, [&](const Case& c) {
    doctor_world().alone_on_console = true;
    for (const Text& folder : c.refusing) doctor_world().folder_errors[folder] = 5;
    EXPECT_EQ(Run({}), 0);
    const Text& out = doctor_world().console_out;
    EXPECT_TRUE(Has(out, u"Verdict: ")) << "the report is shown either way";
    EXPECT_EQ(doctor_world().enter_waits, 1);
    if (c.saved_as.empty()) {
      EXPECT_TRUE(doctor_world().written.empty());
      EXPECT_TRUE(Has(out,
                      u"could not be saved (Desktop: Access is denied (error 5); the current folder: Access is "
                      u"denied (error 5); the temporary folder: Access is denied (error 5))"));
      return;
    }
    ASSERT_EQ(doctor_world().written.count(c.saved_as), 1u) << testing::PrintToString(c.saved_as);
    EXPECT_TRUE(Has(out, u"The report is saved as " + c.saved_as + u": send this file to support."));
    const std::string& bytes = doctor_world().written[c.saved_as];
    EXPECT_EQ(bytes.rfind("\xEF\xBB\xBFgamestart-doctor 1.0.0.0, run 2026-12-09 14:03:22 (local time)\r\n", 0), 0u);
  });

  SetUp();  // a second run in the same second keeps the first report
  doctor_world().alone_on_console = true;
  Run({});
  Run({u"--json"});
  Run({});
  EXPECT_EQ(doctor_world().written.size(), 3u);
  EXPECT_EQ(doctor_world().written.count(desktop + u"\\gamestart-doctor-report-2026-12-09-140322-2.txt"), 1u);
  EXPECT_EQ(doctor_world().written.count(desktop + u"\\gamestart-doctor-report-2026-12-09-140322.json"), 1u);
}

TEST_F(DoctorTest, OutWritesTheReportToTheFileNamedOrRefuses) {
  const Text old_report = u"C:\\Games\\Sky\\old.txt";
  struct Case {
    std::vector<Text> args;
    int status;
    Text written;  // empty: no file but the old report, as it was
    std::uint32_t write_error = 0, move_error = 0;
  } cases[] = {
      {{u"--out", u"report.txt"}, 0, u"C:\\Games\\Sky\\report.txt"},
      {{u"--json", u"--out", u"D:\\support\\r.json"}, 0, u"D:\\support\\r.json"},
      {{u"--out", u"old.txt"}, 0, old_report},
      {{u"--out", u"old.txt"}, 2, u"", 112},   // the disk is full
      {{u"--out", u"old.txt"}, 2, u"", 0, 5},  // the old file cannot be replaced
      {{u"--out"}, 2, u""},
      {{u"--out", u""}, 2, u""},
      {{u"--out", u"Z:\\locked\\r.txt"}, 2, u""},
      {{u"--bogus"}, 2, u""},
  };
  ForEachRow(cases, [&](const Case& c) {
    doctor_world().folder_errors[u"Z:\\locked"] = 5;
    doctor_world().written[old_report] = "old report";
    doctor_world().write_error = c.write_error;
    doctor_world().move_error = c.move_error;
    const std::string what = testing::PrintToString(c.args);
    EXPECT_EQ(Run(c.args), c.status) << what;
    if (c.written.empty()) {
      EXPECT_EQ(doctor_world().written.size(), 1u) << what;
      EXPECT_EQ(doctor_world().written[old_report], "old report") << what;
      EXPECT_TRUE(doctor_world().console_out.empty()) << what;
      EXPECT_EQ(std::count(doctor_world().console_error.begin(), doctor_world().console_error.end(), u'\n'), 1)
          << "one line why";
      return;
    }
    EXPECT_EQ(doctor_world().console_out, u"The report is in " + c.written + u"\n") << what;
    EXPECT_EQ(doctor_world().written.size(), c.written == old_report ? 1u : 2u) << what << ": nothing left beside it";
    ASSERT_EQ(doctor_world().written.count(c.written), 1u) << what;
    const std::string& bytes = doctor_world().written[c.written];
    const bool json = c.args[0] == u"--json";
    EXPECT_EQ(bytes.rfind(json ? "{\"doctor\":{\"name\":\"gamestart-doctor\",\"version\":\"1.0.0.0\",\"run_time\":"
                                 "\"2026-12-09 14:03:22\",\"current_folder\":\"C:\\\\Games\\\\Sky\"}"
                               : "\xEF\xBB\xBFgamestart-doctor 1.0.0.0",
                          0),
              0u)
        << bytes.substr(0, 120);
    EXPECT_EQ(bytes.find('\n'), bytes.find("\r\n") + 1) << "CR LF line ends";
  });
}

// What the doctor tells the player to do, in the player's language and in
// English for support; the rest of the report stays English.
TEST_F(DoctorTest, WhatToDoNamesEachCauseInThePlayersLanguage) {
  using doctor::Message;
  constexpr std::uint16_t kEnglish = 0x0409, kRussian = 0x0419, kRussianMoldova = 0x0819;
  struct Case {
    std::function<void(World&)> setup;
    std::uint16_t ui_language;
    Message advice;
    const char16_t* cause;
  } cases[] = {
      {[](World& w) { w.keys.clear(); }, kEnglish, Message::kNoUserChoice, u"no_user_choice"},
      {[](World& w) { w.KeyAt(kUserChoice).granted = 0; }, kRussian, Message::kChoiceUnreadable, u"choice_unreadable"},
      {[](World& w) { w.keys.erase(u"HKCR\\Br.HTML\\shell\\open\\command"); }, kEnglish, Message::kClassWithoutCommand,
       u"class_without_command"},
      {[](World& w) { w.SetString(u"HKCR\\Br.HTML\\shell\\open\\command", u"", u"C:\\B\\b.exe %1"); }, kRussian,
       Message::kNoQuotedProgram, u"no_quoted_program"},
      {[](World& w) { w.files.erase(u"C:\\Browser\\browser.exe"); }, kEnglish, Message::kBrowserMissing,
       u"browser_missing"},
      {[](World& w) { w.version_fails = true; }, kRussian, Message::kVersionUnknown, u"version_unknown"},
      {[](World& w) {
         TheDoctorWorld().current_folder = u"C:\\Users\\Player";
         w.files.erase(u"fscommand\\wgame.exe");
         w.files[u"C:\\Games\\Sky\\fscommand\\wgame.exe"] = {};
       },
       kRussian, Message::kNotInGameFolder, u"not_in_game_folder"},
      {[](World& w) { w.processes = {{u"browser.exe"}}; }, kEnglish, Message::kBrowserInBackground,
       u"browser_in_background"},
      {[](World&) {}, kRussianMoldova, Message::kNothingToChange, u"nothing_to_change"},
  };
  std::map<Text, Text> json;  // by cause, from the first pass
  for (bool as_json : {true, false}) {
    ForEachRow(cases, [&](const Case& c) {
      const std::string what = testing::PrintToString(Text(c.cause));
      const doctor::Language language = doctor::LanguageOf(c.ui_language);
      const bool russian = language == doctor::Language::kRussian;
      const Text english = doctor::Say(c.advice, doctor::Language::kEnglish), local = doctor::Say(c.advice, language);
      EXPECT_EQ(doctor::CauseId(c.advice), c.cause);
      EXPECT_EQ(russian, local != english) << what;

      doctor_world().ui_language = c.ui_language;
      doctor_world().alone_on_console = true;
      c.setup(world());
      EXPECT_EQ(Run(as_json ? std::vector<Text>{u"--json"} : std::vector<Text>{}), 0) << what;
      const Text& out = doctor_world().console_out;
      EXPECT_TRUE(Has(out, doctor::Say(Message::kPressEnter, language))) << what;
      if (as_json) {
        json[c.cause] = out;
        return;
      }
      const std::size_t section = out.find(u"\nWhat to do" + Text(russian ? u" / Что делать\n" : u"\n"));
      ASSERT_NE(section, Text::npos) << what;
      EXPECT_TRUE(Has(out.substr(section),
                      u"  [" + Text(c.cause) + u"] " + local + u"\n" + (russian ? u"    " + english + u"\n" : u"")))
          << what;
      EXPECT_EQ(
          std::count_if(out.begin(), out.begin() + section, [](char16_t ch) { return ch >= 0x400 && ch < 0x500; }), 0)
          << what << ": the report before its advice is for support, in English";
      EXPECT_TRUE(Has(json[c.cause], u"\"what_to_do\":[{\"cause\":\"" + Text(c.cause) + u"\",\"text\":" +
                                         JsonString(english) + u",\"local\":" + JsonString(local) + u"}]"))
          << what;
    });
  }
}

TEST(DoctorLanguage, IsRussianForEveryRussianUiLanguageAndEnglishOtherwise) {
  struct Case {
    std::uint16_t ui_language;
    doctor::Language language;
  } cases[] = {
      {0x0419, doctor::Language::kRussian}, {0x0819, doctor::Language::kRussian}, {0x0019, doctor::Language::kRussian},
      {0x0409, doctor::Language::kEnglish}, {0x0422, doctor::Language::kEnglish}, {0x0423, doctor::Language::kEnglish},
      {0x0000, doctor::Language::kEnglish},
  };
  for (const auto& c : cases) EXPECT_EQ(doctor::LanguageOf(c.ui_language), c.language) << c.ui_language;
}

TEST(DoctorFile, IsUtf8WithCrLfAndAByteOrderMarkForText) {
  EXPECT_EQ(doctor::FileBytes(u"a\nb\u00e9\u20ac\U0001F600\n", true),
            "\xEF\xBB\xBF"
            "a\r\nb\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\r\n");
  EXPECT_EQ(doctor::FileBytes(std::u16string(1, char16_t(0xD800)) + u"x", false), "\xEF\xBF\xBDx");
  EXPECT_EQ(doctor::FileBytes(u"\na\r\nb\r", false), "\r\na\r\nb\r");  // a text's own CR LF is not doubled
}

}  // namespace
