// The checker over the fakes: the requests as sent, the reports in their
// order, busy ticks, failures, the commands of the windows and what each
// saves, data.dat and the registry values at the start, a request that a
// sleep cut off, and the end of the checker.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "BuildConfig.h"
#include "core/Settings.h"
#include "tests/support/CheckerFixture.h"

namespace zelt::fake {
namespace {

const std::string kRunEntry = std::string(kRunKey) + "\\" + kRunValue;
std::string Url(const std::string& query) { return std::string(build::kInformerUrl) + "inf.php?" + query; }
Reply Topics(bool newVersion, const std::vector<Topic>& t) { return {.body = CompressedBody(ReplyText(newVersion, t))}; }

using Checker = CheckerTest;

// The first request of a fresh install: the program's agent, no proxy; the
// proxy settings of a file reach the request.
TEST_F(Checker, TheFirstRequestFollowsTheSettings) {
  for (const bool file : {false, true}) {
    if (file) WriteData({{}, {.UseIESettings = true, .ProxyPort = 3130, .ProxyServer = "cache"}});
    TChecker& c = Make();
    EXPECT_FALSE(timer->Enabled());
    Tick();
    const Request r = http.Requests().back();
    EXPECT_EQ(r.agent + "|" + std::to_string(r.access), "Zelt Rarazovo 0.4|" + std::to_string(file ? inet::kOpenTypePreconfig : inet::kOpenTypeDirect));
    const TRequestOptions& d = c.RequestOptions();
    EXPECT_EQ(d.ProxyServer + ":" + std::to_string(d.ProxyPort) + "|" + std::to_string(d.UseSystemProxy),
              file ? "cache:3130|1" : ":0|0");
    EXPECT_EQ(DataBytes().empty(), !file) << "loading saves nothing";
    EXPECT_EQ(registry.Values[std::string(kInstallKey) + "\\" + kInstallValue], dir.Path() + "ZeltInformer.exe");
    EXPECT_EQ(c.Traffic().TrafficSince, file ? 0.0 : clock.Time);
    checker.reset();
  }
}

// Busy turns false before the reply posted to the GUI thread is handled: a
// poll in that gap (the timer, F5, the settings' save) sends nothing. The
// settings' save asks for the full list when the topic count changed.
TEST_F(Checker, EachRequestAsksForWhatIsMissingAndNoneGoesOutWhileAReplyWaits) {
  http.Push(Topics(false, {{"A", "a", "General", "3", "x"}}));  // a full list
  http.Push(Topics(false, {{"B", "b", "7", "3", "x"}}));        // forum 7 is not known
  http.Push({.body = CompressedBody("Seven=7\r\nEight=8\r\n")});  // the forum list
  TChecker& c = Make();
  std::vector<std::string> urls;
  for (size_t i = 1; i <= 4; ++i) {
    i == 1 ? c.StartPolling() : timer->Tick();
    urls.push_back(c.Request().Url());
    ReplyWaits();
    c.StartPolling();
    timer->Tick();
    EXPECT_EQ(http.RequestCount(), i);
    Settle();
  }
  EXPECT_EQ(c.Items().at(0)->Forum, "Seven") << "the list applied once the forum names came";
  EXPECT_EQ(Data().ForumNames.Lines(), (std::vector<std::string>{"Seven=7", "Eight=8"})) << "saved at once";
  for (const int32_t topics : {10, -5}) {
    TSettings s = c.Settings();
    s.TopicCount = topics;
    c.ApplySettings(s);
    Settle();
    urls.push_back(c.Request().Url());
  }
  EXPECT_EQ(urls, (std::vector<std::string>{Url("c=10&u=0.4&p=0"), Url("c=10&u=0.4&p=1"), Url("c=10&u=0.4&p=2"),
                                            Url("c=10&u=0.4&p=1"), Url("c=10&u=0.4&p=1"), Url("c=-5&u=0.4&p=0")}));
}

TEST_F(Checker, ATickWhileARequestRunsSendsNothingButItsMinutesCount) {
  WriteData({{}, {.IntervalMs = 30 * 60000}});
  http.Push(Reply{.body = "0", .holdAt = Step::Send});
  TChecker& c = Make();
  c.StartPolling();
  ASSERT_TRUE(http.WaitHeld());
  timer->Tick();  // the second half hour: a save, but no second request
  gui.RunPending();
  EXPECT_EQ(http.RequestCount(), 1u);
  EXPECT_EQ(Data().TotalOutBytes, 544u);
  http.Release();
  Settle();
  Tick();
  EXPECT_EQ(http.RequestCount(), 2u);
  // A catch-up poll is no interval's: its half hour does not count.
  std::filesystem::remove(dir / "data.dat");
  c.CatchUp();
  Tick();
  EXPECT_TRUE(DataBytes().empty());
}

// The informer's request is limited: a reply longer than a mebibyte
// (1048576 bytes) fails, and so does one that takes a minute (here one read
// of a minute on the transport's clock). A failure keeps the topics. A reply's
// reports come in their order.
TEST_F(Checker, RepliesReportInOrderAndAFailedRequestReportsItsCodeAndKeepsTheTopics) {
  const Reply reply = Topics(true, {{"Kept", "k", "News", "2", "x"}, {"Two", "t2", "News", "4", "y"}});
  http.Push(reply);
  TChecker& c = Make();
  Tick();
  EXPECT_EQ(events, (std::vector<std::string>{"status 1", "status 5", "item Kept", "item Two", "status 4", "status 3",
                                              "status 2"}));
  const uint32_t in = c.Traffic().TotalInBytes;
  EXPECT_EQ(in, reply.body.size());
  const std::pair<Reply, uint16_t> cases[] = {{{.body = std::string(1048577, 'x'), .announce = false}, 223},
                                              {{.body = "1", .readMs = 60000}, 12002}};
  for (const auto& [reply, code] : cases) {
    http.Push(reply);
    events.clear();
    const uint32_t out = c.Traffic().TotalOutBytes;
    Tick();
    EXPECT_EQ(events, (std::vector<std::string>{"status 1", "error Ошибка сети " + std::to_string(code)}));
    EXPECT_EQ(c.Traffic().TotalOutBytes, out + 544);
    EXPECT_EQ(c.Traffic().TotalInBytes, in);
    EXPECT_EQ(c.Items().at(0)->Title, "Kept");
  }
}

// Opening a topic marks it read and counts it down once; all read marks
// every topic in the list's order and none stays unread. Each mark (also of
// the user's own post, by a reply) and each change of the favourites is on
// disk at once.
TEST_F(Checker, ReadMarksAndFavouritesAreSavedAtOnceAndTheUnreadCountDown) {
  WriteData({{}, {.IgnoreOwnPosts = true, .Nick = "me"}});
  TChecker& c = Make();
  c.HandleReply(CompressedBody(ReplyText(false, {{"A", "a", "F", "3", "x"}, {"B", "b", "F", "4", "y"},
                                                 {"C", "c", "F", "5", "z"}, {"Mine", "m", "F", "1", "ME"}})));
  const std::string base = ForumBaseUrl(), mine = base + "m-1\x11" "1", b4 = base + "b-1\x11" "4";
  EXPECT_EQ(Data().ReadMarks.Lines(), std::vector<std::string>{mine});
  const TItemData& b = *c.Items().at(1);
  EXPECT_TRUE(c.MarkRead(b));
  EXPECT_FALSE(c.MarkRead(b)) << "once";
  EXPECT_EQ(c.UnreadCount(), 2);
  EXPECT_EQ(Data().ReadMarks.Lines(), (std::vector<std::string>{mine, b4}));
  const TItemData* shown[] = {c.Items()[2].get(), c.Items()[0].get(), nullptr};
  c.MarkAllRead(shown);
  EXPECT_EQ(c.UnreadCount(), 0);
  EXPECT_EQ(Data().ReadMarks.Lines(), (std::vector<std::string>{mine, b4, base + "c-1\x11" "5", base + "a-1\x11" "3"}));
  for (size_t i : {0, 1, 0}) c.AddFavorite(*c.Items()[i]);
  EXPECT_EQ(Data().Favorites.Count(), 2u);
  c.DeleteFavorite(0);
  EXPECT_EQ(Data().Favorites.Lines(), std::vector<std::string>{"B\x11" "F\x11" + base + "b-0-17\x11"});
  c.ClearFavorites();
  EXPECT_TRUE(Data().Favorites.Empty());
}

// The settings' save keeps the settings and saves them, but the timer keeps
// the interval it started with; the counters of the update windows and the
// sound scheme come with the next save; autostart follows the setting at
// every save (without a Run key none is made).
TEST_F(Checker, SavedStateComesBackAndAutostartFollowsTheSetting) {
  TChecker& c = Make();
  Tick();
  c.CountUpdate(1000);
  c.SetSound(TSoundEvent::Error, "beep.wav");
  for (bool on : {true, false, true}) {
    TSettings s = c.Settings();
    s.AutoStart = on;
    s.Password = "secret";
    s.Nick = "Nick";
    s.IntervalMs = 120000;
    c.ApplySettings(s);
    Settle();
    EXPECT_EQ(registry.Values.count(kRunEntry), on ? 1u : 0u);
  }
  EXPECT_EQ(timer->Interval(), 300000u) << "the interval reaches the timer at the next start";
  // Quoted: the path may hold blanks, and an unquoted one runs "C:\\Program.exe" first.
  EXPECT_EQ(registry.Values[kRunEntry], "\"" + dir.Path() + "ZeltInformer.exe\"");
  registry.Keys.erase(kRunKey);
  registry.Values.clear();
  c.SaveData();
  EXPECT_TRUE(registry.Values.empty());

  const uint32_t out = c.Traffic().TotalOutBytes;
  checker.reset();
  TChecker& again = Make();
  const TSettings& s = again.Settings();
  EXPECT_EQ(s.Password + "|" + s.Nick + "|" + s.SoundError + "|" + std::to_string(s.AutoStart), "secret|Nick|beep.wav|1");
  EXPECT_EQ(timer->Interval(), 120000u);
  EXPECT_EQ(again.Traffic().TotalOutBytes, out);
  EXPECT_EQ(std::to_string(again.Traffic().UpdateInBytes) + "|" + std::to_string(again.Traffic().UpdateTotalBytes),
            "1000|1544");
}

// A request begun before the sleep that is still running at the resume:
// its outcome may come while asleep, while the catch-up settles, or wait in
// the queue as the catch-up fires; or it hangs until the catch-up stops it.
// A late reply is applied, a late failure is never loud, the catch-up poll
// goes out and so does the next interval's.
TEST_F(Checker, ARequestCutOffBySleepGivesWayToTheCatchUp) {
  Reply lateReply = Topics(false, {{"Late", "l", "News", "1", "x"}});
  lateReply.holdAt = Step::Read;
  const Reply lateFailure{.failAt = Step::Send, .holdAt = Step::Send};
  const std::pair<bool, std::string> cases[] = {{true, "asleep"}, {true, "settling"}, {true, "queued"}, {true, "hangs"},
      {false, "asleep"}, {false, "settling"}, {false, "queued"}, {false, "hangs"}};
  for (const auto& [late, released] : cases) {
    // Only a reply that came before the catch-up stopped it is applied.
    const bool applied = late && released != "hangs";
    SCOPED_TRACE(released + (late ? ", a reply" : ", a failure"));
    http.Reset();
    http.Push(late ? lateReply : lateFailure);
    http.SetDefault(Topics(false, {{"Now", "n", "News", "2", "y"}}));
    events.clear();
    TChecker& c = Make();
    c.OnNetError = [&](const std::string&, uint16_t) { events.push_back(c.QuietError() ? "quiet" : "loud"); };
    c.StartPolling();
    ASSERT_TRUE(http.WaitHeld());
    const auto release = [&](const std::string& when) {
      if (released != when) return;
      http.Release();
      if (when == "queued")
        ReplyWaits();
      else
        ASSERT_TRUE(gui.RunUntil([&] { return !c.Request().Busy() && gui.RunPending() == 0; }));
    };
    c.Suspend();
    release("asleep");
    c.CatchUp();
    release("settling");
    release("queued");
    timer->Tick();  // the catch-up
    release("hangs");
    ASSERT_TRUE(gui.RunUntil([&] { return http.RequestCount() == 2 && !c.Request().Busy() && gui.RunPending() == 0; }));
    timer->Tick();
    ASSERT_TRUE(gui.RunUntil([&] { return http.RequestCount() == 3 && !c.Request().Busy() && gui.RunPending() == 0; }));
    EXPECT_EQ(std::count(events.begin(), events.end(), "item Late"), applied ? 1 : 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "loud"), 0);
    EXPECT_EQ(c.Items().at(0)->Title, "Now");
    checker.reset();
  }
}

// The end stops the sound and the request; what the request would still
// bring reaches nothing.
TEST_F(Checker, TheEndStopsTheRequestAndTheSound) {
  http.Push(Reply{.body = "1", .holdAt = Step::Read});
  TChecker& c = Make();
  c.SetSound(TSoundEvent::NewMessages, "new.ogg");
  c.SelectSound(TSoundEvent::NewMessages);
  EXPECT_EQ(sound.Playing(), "new.ogg");
  c.StartPolling();
  ASSERT_TRUE(http.WaitHeld());
  checker.reset();
  EXPECT_EQ(sound.Playing(), "");
  http.Release();
  ASSERT_TRUE(http.WaitIdle());
  gui.RunPending();
  EXPECT_EQ(events, std::vector<std::string>{"status 1"});
}

}  // namespace
}  // namespace zelt::fake
