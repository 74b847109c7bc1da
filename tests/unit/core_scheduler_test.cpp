// When the checker polls after sleep, resume and network changes: the
// catch-up poll's settling and coalescing, no poll while asleep (for an
// interval at most), and one failure reported aloud per outage with retries
// at growing delays until a reply comes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/PollScheduler.h"
#include "tests/support/Fakes.h"

namespace zelt {
namespace {

TEST(Scheduler, ResumeAndNetworkEventsGiveOnePollAfterSettlingAndAtMostOneLoudFailure) {
  // A scheduler over a timer the test ticks, whose polls all fail while the
  // network is down ("loud" or "quiet") and are answered while it is up.
  auto owned = std::make_unique<fake::Timer>();
  fake::Timer& timer = *owned;
  bool up = true;
  size_t polls = 0;
  std::vector<std::string> failures;
  std::unique_ptr<TPollScheduler> scheduler;
  const auto poll = [&](TTickKind) {
    ++polls;
    if (up)
      scheduler->Replied();
    else
      failures.push_back(scheduler->Failed() ? "quiet" : "loud");
  };
  scheduler = std::make_unique<TPollScheduler>(std::move(owned), poll);
  scheduler->SetInterval(300000);
  EXPECT_FALSE(timer.Enabled());
  scheduler->CatchUp();  // before polling begins: nothing
  EXPECT_EQ(timer.Interval(), 300000u);
  scheduler->Start();  // as StartPolling: the timer runs and the first poll goes out
  poll(TTickKind::Interval);
  // Each step: what happens; then the timer's interval, the polls made so
  // far and the failures reported so far.
  const struct {
    std::string what;
    uint32_t interval;
    size_t polls;
    std::vector<std::string> failures;
  } steps[] = {
      {"resume", kCatchUpDelayMs, 1, {}},
      {"resume again", kCatchUpDelayMs, 1, {}},  // close together: still one poll
      {"tick", 300000, 2, {}},  // the catch-up; the interval restarts from it
      {"tick", 300000, 3, {}},  // the interval's own tick
      {"suspend", 300000, 3, {}},
      {"tick", kCatchUpDelayMs, 3, {}},  // an interval without a resume: as after one
      {"suspend again", kCatchUpDelayMs, 3, {}},
      {"tick", 300000, 4, {}},  // the settling was not held off
      {"down", 300000, 4, {}},
      {"resume", kCatchUpDelayMs, 4, {}},
      {"tick", kFirstRetryMs, 5, {"loud"}},
      {"tick", 2 * kFirstRetryMs, 6, {"loud", "quiet"}},
      {"resume", kCatchUpDelayMs, 6, {"loud", "quiet"}},  // the retry gives way to the new catch-up
      {"tick", kFirstRetryMs, 7, {"loud", "quiet", "quiet"}},
      {"up", kFirstRetryMs, 7, {"loud", "quiet", "quiet"}},
      {"tick", 300000, 8, {"loud", "quiet", "quiet"}},  // back: the outage is over
      {"down", 300000, 8, {"loud", "quiet", "quiet"}},
      {"tick", 300000, 9, {"loud", "quiet", "quiet", "loud"}},  // a new failure of its own
      {"tick", 300000, 10, {"loud", "quiet", "quiet", "loud", "loud"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    const size_t armed = timer.Armed();
    if (s.what.starts_with("resume")) scheduler->CatchUp();  // a network change is the same call
    if (s.what.starts_with("suspend")) scheduler->Suspend();
    if (s.what == "down") up = false;
    if (s.what == "up") up = true;
    if (s.what == "tick") timer.Tick();
    EXPECT_EQ(timer.Interval(), s.interval);
    EXPECT_EQ(polls, s.polls);
    EXPECT_EQ(failures, s.failures);
    // Were each event (a sleep's too) to restart the settling, a stream of
    // them would hold the catch-up off.
    if (s.what.ends_with(" again")) {
      EXPECT_EQ(timer.Armed(), armed) << "the settling countdown restarted";
    }
  }
}

}  // namespace
}  // namespace zelt
