// Once the wait has started, a poll cycle allocates nothing: a wait of many
// cycles makes exactly the allocations of a wait of one.
#include "tests/sim/alloc_counter.h"
#include "tests/sim_test.h"

namespace {

class AllocationTest : public SimTest {
 protected:
  std::size_t AllocationsForWaitOf(std::int64_t browser_ms) {
    SetUp();
    world().started_process = sim::Process{u"browser.exe", 0, browser_ms, 500};
    world().top_windows = {{77}, {500, 0, sim::kForever, false}, {500, 900}};
    for (char16_t c = u'a'; c <= u'z'; ++c) world().processes.push_back({u"service-" + std::u16string(1, c) + u".exe"});
    world().windows = {{platform::Window{0x20}, false}};
    for (std::int64_t t = 0; t < browser_ms; t += 250) world().queue.push_back({platform::Window{0x20}, 0x113, t});
    const std::size_t before = sim::LauncherAllocations();
    watch::LaunchBrowser(u"\"C:\\Program Files\\Some Browser\\browser.exe\"", u"-url x", platform::kShowNormal);
    EXPECT_EQ(world().now_ms, (browser_ms / 1000 + 1) * 1000);
    return sim::LauncherAllocations() - before;
  }
};

TEST_F(AllocationTest, PollCyclesAllocateNothing) {
  const std::size_t one_cycle = AllocationsForWaitOf(500);
  EXPECT_EQ(AllocationsForWaitOf(12500), one_cycle) << "13 cycles allocated more than 1";
}

}  // namespace
