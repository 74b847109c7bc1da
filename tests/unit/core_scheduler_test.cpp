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

// A scheduler over a timer the test ticks, whose polls all fail while the
// network is down ("loud" or "quiet") and are answered while it is up.
struct Polling {
  explicit Polling(uint32_t intervalMs) {
    auto t = std::make_unique<fake::Timer>();
    timer = t.get();
    scheduler = std::make_unique<TPollScheduler>(std::move(t), [this](TTickKind kind) { Poll(kind); });
    scheduler->SetInterval(intervalMs);
  }
  void Poll(TTickKind kind) {
    kinds.push_back(kind == TTickKind::Interval ? "interval" : "catch-up");
    if (up)
      scheduler->Replied();
    else
      failures.push_back(scheduler->Failed() ? "quiet" : "loud");
  }

  fake::Timer* timer = nullptr;
  std::unique_ptr<TPollScheduler> scheduler;
  bool up = true;
  std::vector<std::string> kinds, failures;
};

TEST(Scheduler, ResumeAndNetworkEventsGiveOnePollAfterSettlingAndAtMostOneLoudFailure) {
  Polling p(300000);
  EXPECT_FALSE(p.timer->Enabled());
  p.scheduler->CatchUp();  // before polling begins: nothing
  EXPECT_EQ(p.timer->Interval(), 300000u);
  p.scheduler->Start();  // as StartPolling: the timer runs and the first poll goes out
  p.Poll(TTickKind::Interval);
  // Each step: what happens; then the timer's interval, the polls made so
  // far and the failures reported so far.
  struct Case {
    const char* what;
    uint32_t interval;
    size_t polls;
    std::vector<std::string> failures;
  };
  const std::vector<Case> steps = {
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
  for (const Case& s : steps) {
    SCOPED_TRACE(s.what);
    const std::string what = s.what;
    const size_t armed = p.timer->Armed();
    if (what.starts_with("resume")) p.scheduler->CatchUp();  // a network change is the same call
    if (what.starts_with("suspend")) p.scheduler->Suspend();
    if (what == "down") p.up = false;
    if (what == "up") p.up = true;
    if (what == "tick") p.timer->Tick();
    EXPECT_EQ(p.timer->Interval(), s.interval);
    EXPECT_EQ(p.kinds.size(), s.polls);
    EXPECT_EQ(p.failures, s.failures);
    // Were each event (a sleep's too) to restart the settling, a stream of
    // them would hold the catch-up off.
    if (what.ends_with(" again")) {
      EXPECT_EQ(p.timer->Armed(), armed) << "the settling countdown restarted";
    }
  }
}

}  // namespace
}  // namespace zelt
