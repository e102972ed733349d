// Whole runs of the launcher in which the k-th platform call fails, for every
// k a run reaches, in several scenarios. Every run must end normally, exit 0,
// close every handle and make only the shell calls its state allows.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

#include "app/launch.h"
#include "tests/sim_test.h"

namespace {

using platform::kFileAttributeDirectory;
using platform::kFileAttributeReparsePoint;
using sim::Call;

constexpr char16_t kProgram[] = u"\"C:\\Browser\\browser.exe\"";
constexpr char16_t kCommand[] = u"\"C:\\Browser\\browser.exe\" -url \"%1\"";
constexpr char16_t kOldProgram[] = u"\"C:\\Old\\old.exe\"";
constexpr platform::Window kAnsiWindow{0x20};

struct Scenario {
  const char* name;
  std::function<void(sim::World&)> build;
  std::u16string program;                  // what a faultless discovery finds
  std::u16string fallback;                 // what a fault may leave it finding instead, if anything
  std::u16string arguments;                // as the browser receives them
  std::vector<std::u16string> follow_ups;  // the items that exist, in opening order
};

std::u16string Address() { return std::u16string(app::GameAddress); }

void Browser(sim::World& w, std::int64_t lives_ms) {
  w.processes = {{u"System"}, {u"explorer.exe"}};
  w.started_process = sim::Process{u"browser.exe", 200, lives_ms};
  w.windows = {{kAnsiWindow, false}};
  w.queue = {{kAnsiWindow, 0x100, 500}, {platform::kNoWindow, 0x201, 1500}, {kAnsiWindow, 0x113, 2500}};
}

// clang-format off
std::vector<Scenario> Scenarios() {
  const std::u16string quoted_args = u" -url \"" + Address() + u"\"";
  return {
      {"vista, found, both follow-ups",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoice, u"Br.HTML", kCommand);
         Browser(w, 3500);
         w.files[u"play.url"] = {};
         w.files[u"fscommand\\wgame.exe"] = {};
       },
       kProgram, u"", quoted_args, {u"play.url", u"fscommand\\wgame.exe"}},
      {"vista 24H2, newer choice over a stale legacy one",
       [](sim::World& w) {
         // Windows 11 24H2 and later: the legacy key still names the old browser.
         RegisterChoice(w, kUserChoice, u"Old.HTML", std::u16string(kOldProgram) + u" -url \"%1\"");
         RegisterChoice(w, kUserChoiceLatest, u"Br.HTML", kCommand);
         Browser(w, 2500);
         w.files[u"play.url"] = {};
       },
       kProgram, kOldProgram, quoted_args, {u"play.url"}},
      {"vista 24H2, the shell honours the legacy choice",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoice, u"Br.HTML", kCommand);
         RegisterChoice(w, kUserChoiceLatest, u"Old.HTML", std::u16string(kOldProgram) + u" -url \"%1\"");
         w.shell_answers = {{platform::kAssocStrProgId, {u"Br.HTML"}}};
         Browser(w, 2500);
         w.files[u"play.url"] = {};
       },
       kProgram, kOldProgram, quoted_args, {u"play.url"}},
      {"vista, found, play.url a link, wgame locked",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoice, u"Br.HTML", kCommand);
         Browser(w, 2500);
         w.files[u"play.url"] = sim::File{kFileAttributeReparsePoint};
         w.files[u"fscommand\\wgame.exe"] = sim::File{0x20, platform::kErrorSharingViolation, true};
       },
       kProgram, u"", quoted_args, {u"play.url", u"fscommand\\wgame.exe"}},
      {"vista, window closed, browser left in the background",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoice, u"Br.HTML", kCommand);
         Browser(w, sim::kForever);
         w.started_process->id = 500;
         // Open for three looks, so that no one fault can hide it.
         w.top_windows = {{500, 1200, 4600}, {500, 0, sim::kForever, false}, {77, 0, sim::kForever}};
         w.files[u"play.url"] = {};
       },
       kProgram, u"", quoted_args, {u"play.url"}},
      {"vista, found, ended by quit",
       [](sim::World& w) {
         RegisterChoice(w, kUserChoice, u"Br.HTML", kCommand);
         Browser(w, sim::kForever);
         w.queue.push_back({platform::kNoWindow, platform::kWmQuit, 2200});
       },
       kProgram, u"", quoted_args, {}},
      {"vista, nothing registered, no follow-ups", [](sim::World& w) { w.shell_accepts = false; },
       u"", u"", Address(), {}},
      {"xp, found, play.url a directory",
       [](sim::World& w) {
         w.version = sim::kWindowsXp;
         w.SetString(kHttpCommand, u"", std::u16string(kProgram) + u" \"%1\"");
         Browser(w, 1800);
         w.files[u"play.url"] = sim::File{kFileAttributeDirectory};
         w.files[u"fscommand\\wgame.exe"] = {};
       },
       kProgram, u"", u" \"" + Address() + u"\"", {u"fscommand\\wgame.exe"}},
      {"xp, command without .exe",
       [](sim::World& w) {
         w.version = sim::kWindowsXp;
         w.SetString(kHttpCommand, u"", u"\"C:\\B\\B.EXE\" \"%1\"");
         w.shell_accepts = false;
         w.files[u"play.url"] = {};
       },
       u"", u"", Address(), {u"play.url"}},
  };
}
// clang-format on

class FaultSweep : public SimTest {
 protected:
  std::map<std::string, std::size_t> failed_by_call;

  // Runs the whole launcher with call number fail_call failing (0: none) and
  // checks the outcome; answers how many calls the run made.
  std::size_t RunWithFault(const Scenario& scenario, std::size_t fail_call) {
    SetUp();
    scenario.build(world());
    world().clock_cap_ms = 60 * 1000;
    world().fail_call = fail_call;
    const std::string where = std::string(scenario.name) + ", call " + std::to_string(fail_call);
    int status = -1;
    try {
      status = app::RunLauncher();
    } catch (const std::exception& e) {
      ADD_FAILURE() << where << ": the run threw: " << e.what();
    }
    const sim::World& w = world();
    const std::string failed_call =
        fail_call && fail_call <= w.calls.size() ? sim::NameOf(w.calls[fail_call - 1]) : "none";
    const std::string context = where + " (" + failed_call + " failing)";
    if (fail_call && fail_call <= w.calls.size()) ++failed_by_call[failed_call];
    EXPECT_EQ(status, 0) << context;
    EXPECT_TRUE(w.open_handles.empty()) << context << ": " << w.open_handles.size() << " handle(s) left open";
    for (const std::string& error : w.handle_errors) ADD_FAILURE() << context << ": " << error;
    CheckShellCalls(scenario, context, fail_call == 0);
    return w.calls.size();
  }

  void CheckShellCalls(const Scenario& scenario, const std::string& context, bool faultless) {
    const sim::World& w = world();
    ASSERT_EQ(w.launches.size(), 1u) << context << ": the launch is attempted exactly once";
    const sim::Launch& launch = w.launches[0];
    const bool found = !launch.file->empty() && (launch.file == scenario.program || launch.file == scenario.fallback);
    EXPECT_TRUE(found || launch.file == u"") << context << ": launched " << testing::PrintToString(*launch.file);
    EXPECT_EQ(launch.parameters, found || scenario.program.empty() ? scenario.arguments : Address()) << context;
    if (faultless) {
      EXPECT_EQ(launch.file, scenario.program) << context;
    }

    // Follow-ups: only existing items, in order, each once, after the launch.
    const auto launch_at = std::find(w.calls.begin(), w.calls.end(), Call::ShellExecuteExW) - w.calls.begin();
    std::size_t next = 0;
    for (const sim::Open& open : w.opens) {
      while (next < scenario.follow_ups.size() && scenario.follow_ups[next] != open.file) ++next;
      EXPECT_LT(next, scenario.follow_ups.size()) << context << ": opened an item out of order or one that is absent";
      ++next;
    }
    if (faultless) {
      EXPECT_EQ(w.opens.size(), scenario.follow_ups.size()) << context;
    }
    const auto first_open = std::find(w.calls.begin(), w.calls.end(), Call::ShellExecuteW) - w.calls.begin();
    EXPECT_GT(first_open, launch_at) << context;

    // A refused launch means no wait at all.
    const bool launch_faulted = static_cast<std::ptrdiff_t>(w.fail_call) == launch_at + 1;
    const bool launched = w.shell_accepts && !launch_faulted;
    if (!launched) {
      EXPECT_EQ(w.CountOf(Call::Sleep), 0u) << context;
    }
  }
};

TEST_F(FaultSweep, EveryFailingCallEndsNormally) {
  std::size_t faulted_runs = 0;
  for (const Scenario& scenario : Scenarios()) {
    const std::size_t baseline = RunWithFault(scenario, 0);
    ASSERT_GT(baseline, 0u);
    // A fault can lengthen a run (a failed look ends the wait earlier, a
    // failed drain leaves a quit for later): go on while calls are reached.
    for (std::size_t k = 1; RunWithFault(scenario, k) >= k; ++k) ++faulted_runs;
  }
  std::printf("fault sweep: %zu faulted runs over %zu scenarios, all ended with status 0 and no open handle\n",
              faulted_runs, Scenarios().size());
  for (const auto& [call, runs] : failed_by_call) std::printf("  %-26s %3zu runs\n", call.c_str(), runs);
  EXPECT_GT(faulted_runs, 100u);
}

}  // namespace
