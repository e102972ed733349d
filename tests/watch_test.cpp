#include "tests/sim_test.h"

namespace {

using platform::Msg;
using sim::Call;
using watch::QuitRequested;

constexpr platform::Window kUnicodeWindow{0x10};
constexpr platform::Window kAnsiWindow{0x20};

// Read before any test runs: the fixtures reset it.
const bool quit_requested_at_start = QuitRequested;

TEST(Quit, IsNotRequestedInAFreshProcess) { EXPECT_FALSE(quit_requested_at_start); }

TEST(WatchedName, IsTheImageNameBeforeTheClosingQuote) {
  struct Case {
    const char16_t* program;
    const char16_t* name;
  } cases[] = {
      {u"\"C:\\Browser\\browser.exe\"", u"browser.exe"},
      {u"\"C:\\Program Files\\Opera\\Launcher.exe\"", u"opera.exe"},
      {u"\"D:\\Launcher.exe\\x.exe\"", u"opera.exe"},    // anywhere, a folder included
      {u"\"C:\\Browser\\launcher.exe\"", u"opera.exe"},  // any case: installers write it in lower case
      {u"\"C:\\Users\\P\\AppData\\Local\\Programs\\Opera GX\\launcher.exe\"", u"opera.exe"},
      {u"\"C:\\OPERA\\LAUNCHER.EXE\"", u"opera.exe"},
      {u"\"C:\\Browser\\\"", u""},
      {u"\"C:/Browser/browser.exe\"", u"C:/Browser/browser.exe"},  // only backslashes separate
      {u"\"browser.exe\"", u"browser.exe"},
      {u"browser.exe\"", u"browser.exe"},  // no opening quote: the first character stays
      {u"C:\\Browser\\browser.exe -url \"", u"browser.exe -url "},
      {u"x\"", u"x"},
      {u"\\\"", u""},
      {u"\"\"", u""},
      {u"\"", u""},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(watch::DeriveWatchedName(c.program), c.name);
}

class WatchTest : public SimTest {
 protected:
  void Run(const std::u16string& name, std::int64_t at_ms = 0) { world().processes.push_back({name, at_ms}); }
};

TEST_F(WatchTest, ProcessMatchIsASubstringIgnoringAsciiCase) {
  struct Case {
    std::u16string image, name;
    bool running;
  } cases[] = {
      {u"browser.exe", u"browser.exe", true},
      {u"MyBrowser.EXE", u"browser.exe", true},
      {u"browser.ex", u"browser.exe", false},
      {u"\u00C9cran.exe", u"\u00E9cran.exe", false},
      {u"anything.exe", u"", false},
      {std::u16string(249, u'a') + u"browser.exe", u"browser.exe", true},   // all 260 characters, no terminator
      {std::u16string(300, u'a') + u"browser.exe", u"browser.exe", false},  // images end at 260 characters
  };
  ForEachRow(cases, [&](const auto& c) {
    Run(u"system.exe");
    Run(c.image);
    Run(u"later.exe");
    EXPECT_EQ(watch::IsProcessRunning(c.name), c.running) << testing::PrintToString(c.image);
  });
}

TEST_F(WatchTest, ScanStopsAtTheFirstMatchAndAFailedSnapshotMeansNotRunning) {
  for (const char16_t* image : {u"a.exe", u"browser.exe", u"b.exe", u"c.exe"}) Run(image);
  EXPECT_TRUE(watch::IsProcessRunning(u"browser.exe"));
  EXPECT_EQ(world().CountOf(Call::Process32NextW), 1u);

  world().snapshot_fails = true;
  EXPECT_FALSE(watch::IsProcessRunning(u"browser.exe"));
}

TEST_F(WatchTest, DrainRemovesEverythingAndChoosesTheWideOrAnsiCallByWindow) {
  world().windows = {{kUnicodeWindow, true}, {kAnsiWindow, false}};
  world().queue = {{kAnsiWindow, 0x100},
                   {platform::kNoWindow, 0x400},
                   {kUnicodeWindow, 0x201},
                   {kUnicodeWindow, 0x102},
                   {platform::Window{0x99}, 0x10}};  // last: a window gone
  watch::DrainMessages();
  EXPECT_TRUE(world().queue.empty());
  ASSERT_EQ(world().removed.size(), 5u);
  const std::pair<std::uint32_t, bool> expected[] = {
      {0x201, false}, {0x100, true}, {0x400, false}, {0x102, false}, {0x10, true}};  // mouse first
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(world().removed[i].message, expected[i].first) << i;
    EXPECT_EQ(world().removed[i].ansi, expected[i].second) << i;
  }
  EXPECT_FALSE(QuitRequested);
}

TEST_F(WatchTest, MouseMessagesTakenFirstAreExactly0x200To0x20E) {
  world().queue = {{platform::kNoWindow, 0x100},
                   {platform::kNoWindow, 0x20F},
                   {platform::kNoWindow, 0x200},
                   {platform::kNoWindow, 0x1FF},
                   {platform::kNoWindow, 0x20E}};
  watch::DrainMessages();
  std::vector<std::uint32_t> order;
  for (const sim::RemovedMessage& m : world().removed) order.push_back(m.message);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{0x200, 0x20E, 0x100, 0x20F, 0x1FF}));
}

TEST_F(WatchTest, AFailedRemovalEndsTheDrainAndLeavesTheMessage) {
  world().queue = {{platform::kNoWindow, 0x100}};
  world().fail_call = 3;  // the mouse peek, the look, then the removal
  watch::DrainMessages();
  EXPECT_EQ(world().calls.size(), 3u);
  EXPECT_EQ(world().queue.size(), 1u);
}

TEST_F(WatchTest, QuitIsNotedAndStaysNoted) {
  world().queue = {{platform::kNoWindow, platform::kWmQuit}};
  Msg msg{};
  EXPECT_TRUE(watch::PeekOneMessage(&msg));
  EXPECT_TRUE(QuitRequested);
  EXPECT_FALSE(watch::PeekOneMessage(&msg));
  EXPECT_TRUE(QuitRequested);
}

class LaunchTest : public WatchTest {
 protected:
  void Launch(const std::u16string& program = u"\"C:\\Browser\\browser.exe\"") {
    watch::LaunchBrowser(program, u"-url x", platform::kShowNormal);
  }
};

TEST_F(LaunchTest, FillsTheLaunchRecordWithOnlyWhatTheShellNeeds) {
  world().shell_accepts = false;
  watch::LaunchBrowser(u"", u"", 7);
  ASSERT_EQ(world().launches.size(), 1u);
  const sim::Launch& l = world().launches[0];
  EXPECT_EQ(l.cbSize, 60u);
  EXPECT_EQ(l.fMask, platform::kSeeMaskNoCloseProcess);
  EXPECT_EQ(l.hwnd, platform::kNoWindow);
  EXPECT_FALSE(l.verb);
  EXPECT_EQ(l.file, u"") << "an empty text, not an absent one";
  EXPECT_EQ(l.parameters, u"");
  EXPECT_FALSE(l.directory);
  EXPECT_EQ(l.nShow, 7);
}

TEST_F(LaunchTest, WaitsWhileTheBrowserRunsLookingOnceASecond) {
  constexpr std::uint32_t kBrowser = 500, kOther = 77;
  const sim::TopWindow shown_0_5_to_2_5{kBrowser, 500, 2500};
  auto with = [&](void (*change)(sim::TopWindow&)) {
    sim::TopWindow w = shown_0_5_to_2_5;
    change(w);
    return std::vector<sim::TopWindow>{w};
  };
  struct Case {
    const char* what;
    std::int64_t browser_start_ms, browser_exit_ms;
    std::vector<sim::TopWindow> windows;
    sim::World::Span enumeration_fails;
    std::int64_t waited_ms;
  } cases[] = {
      {"exits within the first second", 0, 900, {}, {}, 1000},
      {"not yet listed after one second", 1500, 5000, {}, {}, 1000},
      {"runs 3.5 s", 0, 3500, {}, {}, 4000},
      {"exits exactly on a look", 0, 3000, {}, {}, 3000},
      // A browser that stays in the background once its window is closed.
      {"window closed, processes remain", 0, sim::kForever, {shown_0_5_to_2_5}, {}, 3000},
      {"first window at the third look, gone at the fifth", 0, sim::kForever, {{kBrowser, 2500, 4500}}, {}, 5000},
      {"a window reopened between looks", 0, 6000, {shown_0_5_to_2_5, {kBrowser, 2800, 4200}}, {}, 5000},
      {"owned window", 0, 6000, with([](sim::TopWindow& w) { w.owner = platform::Window{0x99}; }), {}, 6000},
      {"tool window", 0, 6000, with([](sim::TopWindow& w) { w.tool = true; }), {}, 6000},
      {"hidden window", 0, 6000, with([](sim::TopWindow& w) { w.visible = false; }), {}, 6000},
      {"another program's window", 0, 6000, with([](sim::TopWindow& w) { w.process_id = kOther; }), {}, 6000},
      {"windows not listed: none seen", 0, 6000, {shown_0_5_to_2_5}, {0, 2500}, 6000},
      {"windows no longer listed: not an end", 0, 6000, {shown_0_5_to_2_5}, {2500}, 6000},
  };
  ForEachRow(cases, [&](const auto& c) {
    Run(u"other.exe");
    world().processes.back().id = kOther;
    world().started_process = sim::Process{u"browser.exe", c.browser_start_ms, c.browser_exit_ms, kBrowser};
    world().top_windows = c.windows;
    world().enum_windows_fails = c.enumeration_fails;
    Launch();
    EXPECT_EQ(world().now_ms, c.waited_ms);
    EXPECT_EQ(world().CountOf(Call::CreateToolhelp32Snapshot), static_cast<std::size_t>(c.waited_ms / 1000));
  });
}

TEST_F(LaunchTest, ARefusedLaunchReturnsAtOnce) {
  world().shell_accepts = false;
  Run(u"browser.exe");
  Launch();
  EXPECT_EQ(world().now_ms, 0);
  EXPECT_EQ(world().CountOf(Call::CreateToolhelp32Snapshot), 0u);
}

TEST_F(LaunchTest, AnAlreadyRunningBrowserIsWaitedForUntilItsLastProcessEnds) {
  world().processes = {{u"browser.exe", -5000, 2500}, {u"BROWSER.EXE", -100, 6200}};
  world().started_process = sim::Process{u"browser.exe", 0, 300};  // handed the page over and quit
  Launch();
  EXPECT_EQ(world().now_ms, 7000);
}

TEST_F(LaunchTest, OperaLauncherIsWatchedAsOpera) {
  world().started_process = sim::Process{u"Launcher.exe", 0, 200};
  Run(u"opera.exe", 500);
  world().processes.back().exit_ms = 4200;
  Launch(u"\"D:\\Apps\\Opera\\Launcher.exe\"");
  EXPECT_EQ(world().now_ms, 5000);
}

TEST_F(LaunchTest, QuitEndsTheWaitAtTheEndOfItsCycleWhileTheBrowserRuns) {
  Run(u"browser.exe");
  world().processes.back().id = 500;
  world().top_windows = {{500}};
  world().queue = {{platform::kNoWindow, 0x113, 500}, {platform::kNoWindow, platform::kWmQuit, 2300}};
  Launch();
  EXPECT_EQ(world().now_ms, 3000);
  EXPECT_EQ(world().CountOf(Call::CreateToolhelp32Snapshot), 3u) << "the look still happens in that cycle";
}

TEST_F(LaunchTest, OwnImageNameContainingTheWatchedNameEndsOnlyByQuit) {
  Run(u"gamestart.exe");
  world().queue = {{platform::kNoWindow, platform::kWmQuit, 60000}};
  Launch(u"\"C:\\Games\\start.exe\"");
  EXPECT_EQ(world().now_ms, 60000);
}

TEST_F(LaunchTest, EmptyNameEndsAfterOneSleep) {
  Run(u"browser.exe");
  Launch(u"\"C:\\Browser\\\"");
  EXPECT_EQ(world().now_ms, 1000);
}

}  // namespace
