// The whole poll cycle over fake ports: requests as sent, the order of
// statuses and items, busy ticks, the periodic save, counters and failures.
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "core/DataFile.h"
#include "core/FileIO.h"
#include "tests/unit/core_fakes.h"

namespace zelt::testing {
namespace {

std::string Url(const std::string& tail) { return std::string(build::kInformerUrl) + "inf.php?" + tail; }

Reply Topics(const std::string& text) {
  Reply r;
  r.body = CompressedBody(text);
  return r;
}

Reply Bytes(const std::string& body) {
  Reply r;
  r.body = body;
  return r;
}

using PollCycle = CheckerTest;

TEST_F(PollCycle, UrlOfEachRequest) {
  http.Push(Topics("0" + Record("A", "a", "General", "3", "x")));    // full list
  http.Push(Topics("0" + Record("B", "b", "7", "3", "x")));          // forum 7 is not known
  http.Push(Bytes(CompressedBody("Seven=7\r\nEight=8\r\n")));          // the forum list
  http.Push(Bytes("0"));                                            // nothing changed
  http.Push(Bytes("0"));
  TChecker& c = Make();

  std::vector<std::string> urls;
  c.StartPolling();
  urls.push_back(c.Loader->URL);
  Settle();
  for (int i = 0; i < 3; ++i) {
    TickAndSettle();
    urls.push_back(c.Loader->URL);
    if (i == 0) {
      EXPECT_EQ(c.Items[0]->Forum, kForumPlaceholder);
    }
  }
  c.TopicCount = -5;
  c.ResetReply();
  TickAndSettle();
  urls.push_back(c.Loader->URL);

  EXPECT_EQ(urls, (std::vector<std::string>{Url("c=10&u=0.4&p=0"), Url("c=10&u=0.4&p=1"), Url("c=10&u=0.4&p=2"),
                                            Url("c=10&u=0.4&p=1"), Url("c=-5&u=0.4&p=0")}));
  EXPECT_EQ(c.ForumNames.Lines(), (std::vector<std::string>{"Seven=7", "Eight=8"}));
  EXPECT_FALSE(c.NeedForumList);

  // What went over the transport: the agent, a direct connection, the path.
  const auto seen = http.Requests();
  ASSERT_EQ(seen.size(), 5u);
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].agent, "Zelt Rarazovo 0.4");
    EXPECT_EQ(seen[i].access, inet::kOpenTypeDirect);
    EXPECT_EQ(seen[i].headers, std::vector<std::string>{"Connection: close"});
    const std::string tail = urls[i].substr(urls[i].find("inf.php"));
    EXPECT_EQ(seen[i].path.substr(seen[i].path.size() - tail.size()), tail);
  }
}

TEST_F(PollCycle, StatusesAndItemsInTheirOrder) {
  TChecker& c = Make();
  c.MarkRead(ForumBaseUrl() + "t2-1", "4");
  http.Push(Topics("1" + Record("One", "t1", "News", "2", "x") + Record("Two", "t2", "News", "4", "y")));
  http.Push(Bytes("1"));
  c.StartPolling();
  Settle();
  EXPECT_EQ(events, (std::vector<std::string>{"status 1", "status 5", "item One", "item Two", "status 4", "status 3",
                                              "status 2"}));
  // The same list again, one byte: no new messages, the version only once.
  events.clear();
  TickAndSettle();
  EXPECT_EQ(events, (std::vector<std::string>{"status 1", "status 5", "item One", "item Two", "status 2"}));
  EXPECT_TRUE(c.UpdateAvailable);
  EXPECT_EQ(c.UnreadCount, 1);
}

TEST_F(PollCycle, NoSecondRequestWhileBusy) {
  Reply slow = Topics("0" + Record("A", "a", "News", "1", "x"));
  slow.block = true;
  http.Push(slow);
  TChecker& c = Make();
  c.StartPolling();
  ASSERT_TRUE(gui.DrainUntil([&] { return http.Blocked(); }));
  EXPECT_EQ(c.MinutesSinceSave, 5);

  timer->Tick();  // skipped, yet its minutes count
  gui.RunPending();
  EXPECT_EQ(http.RequestCount(), 1u);
  EXPECT_EQ(events, std::vector<std::string>{"status 1"});
  EXPECT_EQ(c.MinutesSinceSave, 10);
  EXPECT_EQ(c.TotalOutBytes, 544u);

  http.Release();
  Settle();
  EXPECT_EQ(events.back(), "status 2");
  TickAndSettle();
  EXPECT_EQ(http.RequestCount(), 2u);
}

// data.dat is written by the timer once 60 poll minutes have gathered; the
// first poll, made by StartPolling, counts.
TEST_F(PollCycle, PeriodicSave) {
  const struct {
    int32_t intervalMs;
    std::vector<size_t> savingPolls;
  } cases[] = {{300000, {12, 24}}, {420000, {9, 18}}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.intervalMs);
    TDataImage image;
    image.IntervalMs = k.intervalMs;
    ASSERT_TRUE(ReplaceFileBytes(DataPath().string(), SerializeDataImage(image)));
    registry.log.clear();
    TChecker& c = Make();
    EXPECT_EQ(timer->Interval(), static_cast<uint32_t>(k.intervalMs));
    std::vector<size_t> saves;
    for (size_t poll = 1; poll <= 24; ++poll) {
      const size_t before = registry.Saves();
      if (poll == 1) {
        c.StartPolling();
        Settle();
      } else {
        TickAndSettle();
      }
      if (registry.Saves() != before) {
        saves.push_back(poll);
        // Saved before this poll's request was counted.
        TDataImage onDisk;
        ParseDataImage(DataFileBytes(), onDisk);
        EXPECT_EQ(onDisk.TotalOutBytes, (poll - 1) * 544);
        EXPECT_EQ(c.MinutesSinceSave, 0);  // restarts from 0, not from the overshoot
      }
    }
    EXPECT_EQ(saves, k.savingPolls);
    checker.reset();
  }
}

TEST_F(PollCycle, FailedRequestsCountTheirEstimateAndReportTheCode) {
  TChecker& c = Make();
  http.Push(Topics("0" + Record("Kept", "k", "News", "1", "x")));
  c.StartPolling();
  Settle();
  const uint32_t inBefore = c.TotalInBytes;

  const struct {
    Reply reply;
    uint16_t code;
  } cases[] = {
      {{200, "", Reply::Send, 12029}, 12029},
      {{200, "", Reply::Open, 12007}, 12007},
      {{200, "", Reply::Connect, 12005}, 12005},
      {{404, "not here"}, 12003},
      {{500, ""}, 12003},
  };
  uint32_t out = c.TotalOutBytes;
  for (const auto& k : cases) {
    http.Push(k.reply);
    events.clear();
    TickAndSettle();
    out += 544;
    EXPECT_EQ(events, (std::vector<std::string>{"status 1", std::string("error ") + kNetErrorText + std::to_string(k.code)}));
    EXPECT_EQ(c.TotalOutBytes, out);
    EXPECT_EQ(c.LastOutBytes, 544u);
    EXPECT_EQ(c.TotalInBytes, inBefore);
    ASSERT_EQ(c.Items.size(), 1u);
    EXPECT_EQ(c.Items[0]->Title, "Kept");
  }
}

TEST_F(PollCycle, CountersOfEachKindOfReply) {
  TChecker& c = Make();
  const std::string text = "0" + Record("A", "a", "News", "1", "x");
  const std::string body = CompressedBody(text);
  http.Push(Bytes(body));
  http.Push(Bytes("1"));
  http.Push(Bytes(""));
  c.StartPolling();
  Settle();
  EXPECT_EQ(c.LastInBytes, body.size());
  EXPECT_EQ(c.LastInUnpacked, text.size());
  EXPECT_EQ(c.TotalInBytes, body.size());
  EXPECT_EQ(c.TotalInUnpacked, text.size());
  TickAndSettle();  // one byte: one in each
  EXPECT_EQ(c.LastInBytes, 1u);
  EXPECT_EQ(c.LastInUnpacked, 1u);
  EXPECT_EQ(c.TotalInBytes, body.size() + 1);
  EXPECT_EQ(c.TotalInUnpacked, text.size() + 1);
  TickAndSettle();  // nothing at all
  EXPECT_EQ(c.LastInBytes, 0u);
  EXPECT_EQ(c.TotalInUnpacked, text.size() + 1);
  EXPECT_EQ(c.TotalOutBytes, 3u * 544);
}

TEST_F(PollCycle, CountersWrapAtFourGibibytes) {
  TChecker& c = Make();
  c.TotalOutBytes = 0xFFFFFFFFu - 100;
  c.TotalInBytes = 0xFFFFFFFFu;
  c.TotalInUnpacked = 0xFFFFFFFFu;
  http.Push(Bytes("0"));
  c.StartPolling();
  Settle();
  EXPECT_EQ(c.TotalOutBytes, 443u);
  EXPECT_EQ(c.TotalInBytes, 0u);
  EXPECT_EQ(c.TotalInUnpacked, 0u);
}

// A reply that arrives after the checker is gone is dropped, not applied.
TEST_F(PollCycle, ReplyPostedAfterDestructionIsDropped) {
  http.Push(Topics("0" + Record("A", "a", "News", "1", "x")));
  TChecker& c = Make();
  c.StartPolling();
  // Wait until the reply task is queued, without running it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (c.Loader->Busy && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_FALSE(c.Loader->Busy);
  checker.reset();
  EXPECT_EQ(Checker, nullptr);
  EXPECT_EQ(gui.RunPending(), 1u);
  EXPECT_EQ(events, std::vector<std::string>{"status 1"});
}

TEST_F(PollCycle, DestructionWhileARequestIsRunning) {
  Reply slow = Bytes("1");
  slow.block = true;
  http.Push(slow);
  TChecker& c = Make();
  c.StartPolling();
  ASSERT_TRUE(gui.DrainUntil([&] { return http.Blocked(); }));
  checker.reset();  // stops the request
  http.Release();
  gui.RunPending();
  EXPECT_EQ(events, std::vector<std::string>{"status 1"});
  EXPECT_EQ(sound.log, (std::vector<std::string>{"stop", "close"}));
}

}  // namespace
}  // namespace zelt::testing
