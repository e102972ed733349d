#include <functional>
#include <map>

#include "tests/sim_test.h"

namespace {

using browser::BrowserCommand;
using browser::SplitCommand;
using End = browser::DiscoveryEnd;
using Decided = browser::ChoiceRecord;

// What discovery records of how it ended.
struct Record {
  End end;
  Decided decided;
};

constexpr char16_t kQuoted[] = u"\"C:\\Browser\\browser.exe\" -osint -url \"%1\"";
constexpr char16_t kProgram[] = u"\"C:\\Browser\\browser.exe\"";
constexpr char16_t kArguments[] = u" -osint -url \"%1\"";
constexpr char16_t kNewProgram[] = u"\"C:\\New\\new.exe\"";
constexpr char16_t kNewCommand[] = u"\"C:\\New\\new.exe\" %1";

TEST(SplitCommand, ProgramEndsAtTheFirstQuoteAfterTheFirstCharacter) {
  struct Case {
    const char16_t* command;
    const char16_t* program;
    const char16_t* arguments;
  } cases[] = {
      {kQuoted, u"\"C:\\Browser\\browser.exe\"", u" -osint -url \"%1\""},
      {u"\"C:\\B\\b.exe\"", u"\"C:\\B\\b.exe\"", u""},
      {u"C:\\Browser\\browser.exe %1", u"", u"C:\\Browser\\browser.exe %1"},
      {u"C:\\Browser\\browser.exe -url \"%1\"", u"C:\\Browser\\browser.exe -url \"", u"%1\""},
      {u"\"\"", u"\"\"", u""},
      {u"\"", u"", u"\""},
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    const browser::Command split = SplitCommand(c.command);
    EXPECT_EQ(split.Program, c.program);
    EXPECT_EQ(split.Arguments, c.arguments);
  }
}

constexpr std::uint32_t kProgIdAnswer = platform::kAssocStrProgId, kCommandAnswer = platform::kAssocStrCommand;

// The newer record names New.HTML, the legacy one Br.HTML; the shell answers.
void Disagree(sim::World& w, std::map<std::uint32_t, sim::ShellAnswer> answers) {
  RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand);
  w.shell_answers = std::move(answers);
}

class DiscoveryTest : public SimTest {
 protected:
  void Resolve(sim::Version version) {
    world().version = version;
    browser::ResolveDefaultBrowser();
  }
  static void ExpectRecord(const Record& expected) {
    EXPECT_EQ(browser::LastDiscovery.end, expected.end);
    EXPECT_EQ(browser::LastDiscovery.decided, expected.decided);
  }
};

TEST_F(DiscoveryTest, VistaAndLaterFollowTheUserChoice) {
  constexpr char16_t kClass[] = u"HKCR\\Br.HTML\\shell\\open\\command";
  constexpr Record kFromLegacy{End::kFound, Decided::kLegacyChoice}, kFromNewer{End::kFound, Decided::kNewerChoice},
      kNoChoice{End::kNoChoice, Decided::kNone}, kUnreadable{End::kChoiceUnreadable, Decided::kNone};
  struct Case {
    const char* what;
    std::function<void(sim::World&)> setup;
    std::u16string program, arguments;
    Record record;
  } cases[] = {
      // clang-format off
      {"found", [](sim::World&) {}, kProgram, kArguments, kFromLegacy},
      {"no user choice", [](sim::World& w) { w.keys.erase(kUserChoice); }, u"", u"", kNoChoice},
      {"user choice opens read-only", [](sim::World& w) { w.KeyAt(kUserChoice).granted = platform::kKeyRead; },
       kProgram, kArguments, kFromLegacy},
      {"class command opens read-only", [&](sim::World& w) { w.KeyAt(kClass).granted = platform::kKeyRead; },
       kProgram, kArguments, kFromLegacy},
      {"user choice refuses reading", [](sim::World& w) { w.KeyAt(kUserChoice).granted = 0x20009; }, u"", u"",
       kUnreadable},
      {"no class command", [&](sim::World& w) { w.keys.erase(kClass); }, u"", u"",
       {End::kNoOpenCommand, Decided::kLegacyChoice}},
      {"Progid of a non-text type", [](sim::World& w) { w.SetRaw(kUserChoice, u"Progid", sim::kRegDword, {1, 0, 0, 0}); },
       u"", u"", kUnreadable},
      {"Progid read fails",
       [](sim::World& w) {
         w.keys[kUserChoice].values[u"Progid"].after_size_query = std::vector<std::uint8_t>(64, 'x');
       },
       u"", u"", kUnreadable},
      {"Progid is used untrimmed", [](sim::World& w) { w.SetString(kUserChoice, u"Progid", u"Br.HTML "); }, u"", u"",
       {End::kNoOpenCommand, Decided::kLegacyChoice}},
      {"empty Progid resolves from the root of the classes",
       [](sim::World& w) {
         w.SetString(kUserChoice, u"Progid", u"");
         w.SetString(u"HKCR\\shell\\open\\command", u"", u"\"C:\\Root\\r.exe\"");
       },
       u"\"C:\\Root\\r.exe\"", u"", kFromLegacy},
      {"empty Progid, and the classes' root has no command",
       [](sim::World& w) { w.SetString(kUserChoice, u"Progid", u""); }, u"", u"",
       {End::kChoiceEmpty, Decided::kLegacyChoice}},
      {"class command of a non-text type", [&](sim::World& w) { w.SetRaw(kClass, u"", sim::kRegDword, {1, 0, 0, 0}); },
       u"", u"", {End::kCommandUnreadable, Decided::kLegacyChoice}},
      {"class command without its value: split, and recorded as unreadable",
       [&](sim::World& w) { w.KeyAt(kClass).values.clear(); }, u"", u"",
       {End::kCommandUnreadable, Decided::kLegacyChoice}},
      {"no .exe test here", [&](sim::World& w) { w.SetString(kClass, u"", u"\"x\" y"); }, u"\"x\"", u" y", kFromLegacy},
      {"no user choice: the classes root's own command is not consulted",
       [](sim::World& w) {
         w.keys.erase(kUserChoice);
         w.SetString(u"HKCR\\shell\\open\\command", u"", u"\"C:\\Root\\r.exe\"");
       },
       u"", u"", kNoChoice},
      {"never falls back on the http class",
       [](sim::World& w) {
         w.keys.erase(kUserChoice);
         w.SetString(kHttpCommand, u"", kQuoted);
       },
       u"", u"", kNoChoice},
      {"expandable command is split unexpanded",
       [&](sim::World& w) { w.SetString(kClass, u"", u"\"%LOCALAPPDATA%\\b.exe\" %1", platform::kRegExpandSz); },
       u"\"%LOCALAPPDATA%\\b.exe\"", u" %1", kFromLegacy},
      // Windows 11 24H2 and later: the newer choice first, the legacy one when it is unusable.
      {"newer choice wins over a stale legacy one",
       [](sim::World& w) { RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand); }, kNewProgram, u" %1",
       kFromNewer},
      // The two name different classes: the shell says which one it honours, or the newer wins.
      {"the shell names the legacy class, in another case",
       [](sim::World& w) { Disagree(w, {{kProgIdAnswer, {u"br.html"}}}); }, kProgram, kArguments, kFromLegacy},
      {"the shell names the newer class", [](sim::World& w) { Disagree(w, {{kProgIdAnswer, {u"New.HTML"}}}); },
       kNewProgram, u" %1", kFromNewer},
      {"the shell runs the legacy class's command, and has no class to name (as Wine answers)",
       [](sim::World& w) {
         Disagree(w, {{kProgIdAnswer, {u"", sim::kHresultNotImplemented}}, {kCommandAnswer, {kQuoted}}});
       },
       kProgram, kArguments, kFromLegacy},
      {"the shell names neither",
       [](sim::World& w) {
         Disagree(w, {{kProgIdAnswer, {u"Other.HTML"}}, {kCommandAnswer, {u"\"C:\\Other\\o.exe\" %1"}}});
       },
       kNewProgram, u" %1", kFromNewer},
      {"the shell fails",
       [](sim::World& w) {
         Disagree(w, {{kProgIdAnswer, {u"", sim::kHresultFail}}, {kCommandAnswer, {u"", sim::kHresultFail}}});
       },
       kNewProgram, u" %1", kFromNewer},
      {"the shell's answers are empty, or do not fit",
       [](sim::World& w) { Disagree(w, {{kProgIdAnswer, {u""}}, {kCommandAnswer, {kQuoted, 0, 4}}}); }, kNewProgram,
       u" %1", kFromNewer},
      {"newer choice alone",
       [](sim::World& w) {
         w.keys.erase(kUserChoice);
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand);
       },
       kNewProgram, u" %1", kFromNewer},
      {"newer key without its value", [](sim::World& w) { w.KeyAt(kUserChoiceLatest); }, kProgram, kArguments,
       kFromLegacy},
      {"newer value empty",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand);
         w.SetString(kUserChoiceLatest, u"ProgId", u"");
       },
       kProgram, kArguments, kFromLegacy},
      {"newer value a DWORD",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand);
         w.SetRaw(kUserChoiceLatest, u"ProgId", sim::kRegDword, {1, 0, 0, 0});
       },
       kProgram, kArguments, kFromLegacy},
      {"newer value read fails",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand);
         w.keys[kUserChoiceLatest].values[u"ProgId"].after_size_query = std::vector<std::uint8_t>(64, 'x');
       },
       kProgram, kArguments, kFromLegacy},
      {"newer key refuses reading",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand);
         w.KeyAt(kUserChoiceLatest).granted = 0x20009;
       },
       kProgram, kArguments, kFromLegacy},
      {"newer class without a command: no second try",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand);
         w.keys.erase(u"HKCR\\New.HTML\\shell\\open\\command");
       },
       u"", u"", {End::kNoOpenCommand, Decided::kNewerChoice}},
      // clang-format on
  };
  ForEachRow(cases, [&](const Case& c) {
    RegisterChoice(world(), kUserChoice, u"Br.HTML", kQuoted);
    c.setup(world());
    Resolve(sim::kWindows8AndLater);
    EXPECT_EQ(BrowserCommand.Program, c.program);
    EXPECT_EQ(BrowserCommand.Arguments, c.arguments);
    ExpectRecord(c.record);
  });
}

TEST_F(DiscoveryTest, AsksTheShellOnlyWhenTheRecordsNameDifferentClasses) {
  struct Case {
    const char* what;
    std::function<void(sim::World&)> setup;
    std::size_t asked;  // AssocQueryStringW calls: a length and a read for each answer
  } cases[] = {
      {"the same class, in another case",
       [](sim::World& w) { RegisterChoice(w, kUserChoiceLatest, u"BR.HTML", kQuoted); }, 0},
      {"no newer record", [](sim::World&) {}, 0},
      {"a legacy record of a non-text type",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoiceLatest, u"New.HTML", kNewCommand);
         w.SetRaw(kUserChoice, u"Progid", sim::kRegDword, {1, 0, 0, 0});
       },
       0},
      {"different classes",
       [](sim::World& w) {
         Disagree(w, {{kProgIdAnswer, {u"x"}}, {kCommandAnswer, {u"y"}}});
       },
       4},
  };
  ForEachRow(cases, [&](const Case& c) {
    RegisterChoice(world(), kUserChoice, u"Br.HTML", kQuoted);
    c.setup(world());
    Resolve(sim::kWindows8AndLater);
    EXPECT_EQ(world().CountOf(sim::Call::AssocQueryStringW), c.asked);
    EXPECT_FALSE(BrowserCommand.Program.empty());
  });
}

TEST_F(DiscoveryTest, XpAndEarlierReadTheHttpClassAndWantAnExe) {
  struct Case {
    const char16_t* command;
    std::u16string program, arguments;
    End end;
  } cases[] = {
      {kQuoted, u"\"C:\\Browser\\browser.exe\"", u" -osint -url \"%1\"", End::kFound},
      {u"\"C:\\BROWSER\\BROWSER.EXE\" \"%1\"", u"", u"", End::kNoExe},  // the test is case-sensitive
      {u"\"C:\\b\\b.exe.bak\"", u"\"C:\\b\\b.exe.bak\"", u"", End::kFound},
      {u"rundll32 url.dll,FileProtocolHandler %1", u"", u"", End::kNoExe},
  };
  for (sim::Version version : {sim::kWindowsXp, sim::kWindows2000}) {
    ForEachRow(cases, [&](const Case& c) {
      RegisterChoice(world(), kUserChoice, u"Other.HTML",
                     u"\"C:\\Other\\other.exe\"");  // neither is consulted before Vista
      RegisterChoice(world(), kUserChoiceLatest, u"New.HTML", kNewCommand);
      world().SetString(kHttpCommand, u"", c.command);
      Resolve(version);
      EXPECT_EQ(BrowserCommand.Program, c.program);
      EXPECT_EQ(BrowserCommand.Arguments, c.arguments);
      ExpectRecord({c.end, Decided::kHttpClass});
    });
  }
}

TEST_F(DiscoveryTest, EverySilentStopEmptiesProgramAndLeavesArgumentsAsTheyWere) {
  struct Case {
    const char* what;
    sim::Version version;
    std::function<void(sim::World&)> setup;
    std::size_t key_opens;  // RegOpenKeyExW calls before the stop
    Record record;
  } cases[] = {
      {"version query fails",
       sim::kWindows8AndLater,
       [](sim::World& w) { w.version_fails = true; },
       0,
       {End::kNoWindowsVersion, Decided::kNone}},
      {"no user choice",
       sim::kWindows8AndLater,
       [](sim::World& w) { w.keys.erase(kUserChoice); },
       2,
       {End::kNoChoice, Decided::kNone}},
      {"no class command",
       sim::kWindows8AndLater,
       [](sim::World& w) { w.keys.erase(u"HKCR\\Br.HTML\\shell\\open\\command"); },
       4,
       {End::kNoOpenCommand, Decided::kLegacyChoice}},
      {"no http class before Vista",
       sim::kWindowsXp,
       [](sim::World& w) { w.keys.erase(kHttpCommand); },
       1,
       {End::kNoOpenCommand, Decided::kNone}},
  };
  ForEachRow(cases, [&](const Case& c) {
    RegisterChoice(world(), kUserChoice, u"Br.HTML", kQuoted);
    world().SetString(kHttpCommand, u"", kQuoted);
    c.setup(world());
    BrowserCommand = {u"\"stale\"", u"kept"};
    Resolve(c.version);
    EXPECT_EQ(BrowserCommand.Program, u"");
    EXPECT_EQ(BrowserCommand.Arguments, u"kept");
    EXPECT_EQ(world().CountOf(sim::Call::RegOpenKeyExW), c.key_opens);
    ExpectRecord(c.record);
  });
}

TEST_F(DiscoveryTest, OpensKeysWithReadRightsAndProbesWithTheirOwn) {
  RegisterChoice(world(), kUserChoice, u"Br.HTML", kQuoted);
  for (auto& [path, key] : world().keys) key.granted = platform::kKeyRead;
  Resolve(sim::kWindowsVista);
  EXPECT_EQ(BrowserCommand.Program, u"\"C:\\Browser\\browser.exe\"");
  EXPECT_EQ(world().CountOf(sim::Call::RegOpenKeyExW), 5u)
      << "the newer key's probe, then probe and open for each of the two keys";
}

}  // namespace
