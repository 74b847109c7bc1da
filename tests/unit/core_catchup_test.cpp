// Sleep, resume and network changes: the catch-up poll's settling and
// coalescing, no request while asleep (for an interval at most), a request
// the sleep cut off, and one failure reported aloud per outage with retries
// at growing delays until a reply comes.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/CheckerFixture.h"

namespace zelt::fake {
namespace {

using CatchUp = CheckerTest;

TEST_F(CatchUp, ResumeAndNetworkEventsGiveOnePollAfterSettlingAndAtMostOneLoudFailure) {
  const Reply down{.failAt = Step::Open};
  const Reply up{.body = "0"};
  http.SetDefault(up);
  TChecker& c = Make();
  std::vector<std::string> failures;  // "loud" or "quiet", in order
  c.OnNetError = [&](const std::string&, uint16_t) { failures.push_back(c.QuietError() ? "quiet" : "loud"); };
  c.StartPolling();
  ASSERT_TRUE(gui.RunUntil([&] { return !c.Loader->Busy && c.TotalInBytes == 1; }));

  // Each step: what happens; then the poll timer's interval, the requests
  // made so far and the failures reported so far.
  struct Case {
    const char* what;
    uint32_t interval;
    size_t requests;
    std::vector<std::string> failures;
  };
  const std::vector<Case> steps = {
      {"resume", kCatchUpDelayMs, 1, {}},
      {"resume again", kCatchUpDelayMs, 1, {}},  // close together: still one poll
      {"network again", kCatchUpDelayMs, 1, {}},
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
    const size_t armed = timer->Armed();
    if (what.starts_with("resume") || what.starts_with("network")) c.CatchUp();
    if (what.starts_with("suspend")) c.Suspend();
    if (what == "down") http.SetDefault(down);
    if (what == "up") http.SetDefault(up);
    if (what == "tick") timer->Tick();
    // A request that went out has ended and its reply has been handled.
    ASSERT_TRUE(gui.RunUntil([&] { return !c.Loader->Busy && gui.RunPending() == 0; }));
    EXPECT_EQ(timer->Interval(), s.interval);
    EXPECT_EQ(http.RequestCount(), s.requests);
    EXPECT_EQ(failures, s.failures);
    // Were each event (a sleep's too) to restart the settling, a stream of
    // them would hold the catch-up off.
    if (what.ends_with(" again")) {
      EXPECT_EQ(timer->Armed(), armed) << "the settling countdown restarted";
    }
  }
}

// A request begun before the sleep that is still running at the resume:
// its outcome may come while asleep, while the catch-up settles, or wait in
// the queue as the catch-up fires; or it hangs until the catch-up stops it.
// A late reply is applied, a late failure is never loud, the catch-up poll
// goes out and so does the next interval's.
TEST_F(CatchUp, ARequestCutOffBySleepGivesWayToTheCatchUp) {
  const Reply lateReply{.body = CompressedBody(ReplyText(false, {{"Late", "l", "News", "1", "x"}})),
                        .holdAt = Step::Read};
  const Reply lateFailure{.failAt = Step::Send, .holdAt = Step::Send};
  const std::string asleep = "asleep", settling = "settling", queued = "queued", hangs = "hangs";
  const struct {
    Reply stale;
    std::string released;
    bool applied;
  } cases[] = {
      {lateReply, asleep, true},        {lateReply, settling, true},  {lateReply, queued, true},
      {lateReply, hangs, false},        {lateFailure, asleep, false}, {lateFailure, settling, false},
      {lateFailure, queued, false},     {lateFailure, hangs, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.released + (k.applied ? ", a reply" : ""));
    http.Reset();
    http.Push(k.stale);
    http.SetDefault({.body = CompressedBody(ReplyText(false, {{"Now", "n", "News", "2", "y"}}))});
    events.clear();
    TChecker& c = Make();
    c.OnNetError = [&](const std::string&, uint16_t) { events.push_back(c.QuietError() ? "quiet" : "loud"); };
    c.StartPolling();
    ASSERT_TRUE(http.WaitHeld());
    const auto release = [&](const std::string& when) {
      if (k.released != when) return;
      http.Release();
      if (when == queued)
        ReplyWaits();
      else
        ASSERT_TRUE(gui.RunUntil([&] { return !c.Loader->Busy && gui.RunPending() == 0; }));
    };
    c.Suspend();
    release(asleep);
    c.CatchUp();
    release(settling);
    release(queued);
    timer->Tick();  // the catch-up
    release(hangs);
    ASSERT_TRUE(gui.RunUntil([&] { return http.RequestCount() == 2 && !c.Loader->Busy && gui.RunPending() == 0; }));
    timer->Tick();
    ASSERT_TRUE(gui.RunUntil([&] { return http.RequestCount() == 3 && !c.Loader->Busy && gui.RunPending() == 0; }));
    EXPECT_EQ(std::count(events.begin(), events.end(), "item Late"), k.applied ? 1 : 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "loud"), 0);
    EXPECT_EQ(c.Items.at(0)->Title, "Now");
    checker.reset();
  }
}

TEST_F(CatchUp, RetriesGrowToTheIntervalAndCountNoPollMinutes) {
  const Reply down{.failAt = Step::Open};
  http.SetDefault(down);
  TChecker& c = Make();
  c.IntervalMs = 60000;
  timer->SetInterval(60000);
  c.StartPolling();
  ASSERT_TRUE(gui.RunUntil([&] { return !c.Loader->Busy && c.TotalOutBytes > 0 && gui.RunPending() == 0; }));
  const int32_t minutes = c.MinutesSinceSave;
  c.CatchUp();
  std::vector<uint32_t> delays;
  for (int i = 0; i < 6; ++i) {
    timer->Tick();
    ASSERT_TRUE(gui.RunUntil([&] { return !c.Loader->Busy && gui.RunPending() == 0; }));
    delays.push_back(timer->Interval());
  }
  EXPECT_EQ(delays, (std::vector<uint32_t>{5000, 10000, 20000, 40000, 60000, 60000}));
  // Four retries and the catch-up went out between interval ticks: only the
  // interval's own ticks count toward the periodic save.
  EXPECT_EQ(c.MinutesSinceSave, minutes + 1);
}

}  // namespace
}  // namespace zelt::fake
