// Host microbenchmarks of the two things a poll cycle does, against the
// simulated Windows (whose own cost is included in the times). The
// allocs_per_call counter counts only the launcher's allocations.
#include <benchmark/benchmark.h>

#include "tests/sim/alloc_counter.h"
#include "tests/sim/world.h"
#include "watch/watch.h"

namespace {

// Image names as a Windows 10 process list shows them.
// clang-format off
const char16_t* const kImages[] = {
    u"System",          u"Registry",        u"smss.exe",       u"csrss.exe",         u"wininit.exe",
    u"services.exe",    u"lsass.exe",       u"svchost.exe",    u"fontdrvhost.exe",   u"dwm.exe",
    u"explorer.exe",    u"RuntimeBroker.exe", u"SearchHost.exe", u"ctfmon.exe",      u"sihost.exe",
    u"taskhostw.exe",   u"SecurityHealthService.exe", u"spoolsv.exe", u"MsMpEng.exe", u"conhost.exe",
};
// clang-format on

void IsProcessRunning(benchmark::State& state) {
  sim::Reset();
  const auto entries = static_cast<std::size_t>(state.range(0));
  for (std::size_t i = 0; i < entries; ++i) sim::TheWorld().processes.push_back({kImages[i % 20]});
  const std::size_t before = sim::LauncherAllocations();
  for (auto _ : state) benchmark::DoNotOptimize(watch::IsProcessRunning(u"browser.exe"));  // no match: full walk
  state.counters["allocs_per_call"] =
      benchmark::Counter(static_cast<double>(sim::LauncherAllocations() - before) / state.iterations());
  state.counters["entries"] = benchmark::Counter(static_cast<double>(entries * state.iterations()),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(IsProcessRunning)->Arg(100)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

void DrainMessages(benchmark::State& state) {
  sim::Reset();
  sim::World& world = sim::TheWorld();
  const auto count = static_cast<std::size_t>(state.range(0));
  world.windows = {{platform::Window{0x10}, true}, {platform::Window{0x20}, false}};
  std::deque<sim::Message> queue;
  // A mix of mouse input, timers and posted messages, a third of them for
  // an ANSI window. Mouse messages come first, as the drain takes them
  // first: every removal is then at the simulated queue's front, so the
  // simulation adds no cost of its own that grows with the queue.
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t message = i < count / 4 ? 0x200 : (i % 2 ? 0x113 : 0x400);
    queue.push_back({platform::Window{i % 3 == 0 ? 0x20u : 0x10u}, message});
  }
  std::size_t allocations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    world.queue = queue;
    world.removed.clear();
    world.calls.clear();
    const std::size_t before = sim::LauncherAllocations();
    state.ResumeTiming();
    watch::DrainMessages();
    allocations += sim::LauncherAllocations() - before;
  }
  state.counters["allocs_per_call"] = benchmark::Counter(static_cast<double>(allocations) / state.iterations());
  state.SetComplexityN(state.range(0));
}
BENCHMARK(DrainMessages)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
