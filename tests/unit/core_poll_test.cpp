// The checker's poll cycle and life over the fakes: the requests as sent, the
// reports in their order, busy ticks, the periodic save, failures, counters,
// data.dat (also damaged) and the registry values, and the end of the checker.
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

using Poll = CheckerTest;

// The first request of a fresh install and of other settings: ten topics
// every five minutes, through the proxy configured or the system's settings.
TEST_F(Poll, TheFirstRequestFollowsTheSettings) {
  const struct {
    bool file, system;
    uint32_t access;
    const char *proxy, *header;
  } cases[] = {{false, false, inet::kOpenTypeDirect, "", "Connection: close"},
               {true, false, inet::kOpenTypeProxy, "http=cache:3130", "Proxy-Connection: close"},
               {true, true, inet::kOpenTypePreconfig, "", "Proxy-Connection: close"}};
  for (const auto& k : cases) {
    TDataImage image;
    image.ProxyServer = "cache";  // in the file only when there is one
    image.ProxyPort = 3130;
    image.UseIESettings = k.system;
    if (k.file) WriteData(image);
    http.Reset();
    TChecker& c = Make();
    EXPECT_FALSE(timer->Enabled());
    c.StartPolling();
    Settle();
    EXPECT_EQ(c.Loader->URL, Url("c=10&u=0.4&p=0"));
    EXPECT_EQ(timer->Interval(), 300000u);
    EXPECT_TRUE(timer->Enabled());
    const Request r = http.Requests().at(0);
    EXPECT_EQ(r.agent + "|" + std::to_string(r.access) + "|" + r.proxy + "|" + r.headers.at(0),
              "Zelt Rarazovo 0.4|" + std::to_string(k.access) + "|" + k.proxy + "|" + k.header);
    EXPECT_EQ(DataBytes().empty(), !k.file) << "loading saves nothing";
    EXPECT_EQ(registry.Values[std::string(kInstallKey) + "\\" + kInstallValue], dir.Path() + "ZeltInformer.exe");
    EXPECT_EQ(c.TrafficSince, k.file ? 0.0 : clock.Time);
    checker.reset();
  }
}

// Busy turns false before the reply posted to the GUI thread is handled: a
// poll in that gap (the timer, F5, the settings' save) sends nothing.
TEST_F(Poll, EachRequestAsksForWhatIsMissingAndNoneGoesOutWhileAReplyWaits) {
  http.Push(Topics(false, {{"A", "a", "General", "3", "x"}}));  // a full list
  http.Push(Topics(false, {{"B", "b", "7", "3", "x"}}));        // forum 7 is not known
  http.Push({.body = CompressedBody("Seven=7\r\nEight=8\r\n")});  // the forum list
  TChecker& c = Make();
  std::vector<std::string> urls;
  for (size_t i = 1; i <= 4; ++i) {
    StartPoll();
    urls.push_back(c.Loader->URL);
    ReplyWaits();
    c.StartPolling();
    timer->Tick();
    EXPECT_EQ(http.RequestCount(), i);
    Settle();
  }
  EXPECT_EQ(c.Items.at(0)->Forum, "Seven") << "the list applied once the forum names came";
  c.TopicCount = -5;
  c.ResetReply();
  Tick();
  urls.push_back(c.Loader->URL);
  EXPECT_EQ(urls, (std::vector<std::string>{Url("c=10&u=0.4&p=0"), Url("c=10&u=0.4&p=1"), Url("c=10&u=0.4&p=2"),
                                            Url("c=10&u=0.4&p=1"), Url("c=-5&u=0.4&p=0")}));
}

TEST_F(Poll, ReportsComeInTheirOrder) {
  TChecker& c = Make();
  c.MarkRead(ForumBaseUrl() + "t2-1", "4");
  http.Push(Topics(true, {{"One", "t1", "News", "2", "x"}, {"Two", "t2", "News", "4", "y"}}));
  Tick();
  EXPECT_EQ(events, (std::vector<std::string>{"status 1", "status 5", "item One", "item Two", "status 4", "status 3",
                                              "status 2"}));
}

TEST_F(Poll, ATickWhileARequestRunsSendsNothingButItsMinutesCount) {
  TDataImage image;
  image.IntervalMs = 30 * 60000;
  WriteData(image);
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
}

// data.dat is written at the poll that completes 60 minutes, counted from the
// first poll (made by StartPolling), before that poll's request is counted.
TEST_F(Poll, DataIsSavedEveryHourOfPolls) {
  const std::pair<int32_t, std::vector<size_t>> cases[] = {{300000, {12, 24}}, {420000, {9, 18}}};
  for (const auto& [intervalMs, savingPolls] : cases) {
    SCOPED_TRACE(intervalMs);
    TDataImage image;
    image.IntervalMs = intervalMs;
    WriteData(image);
    Make();
    std::vector<size_t> saves;
    for (size_t poll = 1; poll <= 24; ++poll) {
      const uint32_t saved = Data().TotalOutBytes;
      Tick();
      if (Data().TotalOutBytes != saved) {
        saves.push_back(poll);
        EXPECT_EQ(Data().TotalOutBytes, (poll - 1) * 544);
      }
    }
    EXPECT_EQ(saves, savingPolls);
    checker.reset();
  }
}

// A reply longer than a mebibyte (1048576 bytes), announced or streamed, is
// one such failure, and so is one that takes a minute (here one read of a
// minute on the transport's clock); one of that length is junk that changes
// nothing (code 0). The next tick polls again.
TEST_F(Poll, AFailedRequestReportsItsCodeAndKeepsTheTopics) {
  http.Push(Topics(false, {{"Kept", "k", "News", "1", "x"}}));
  TChecker& c = Make();
  Tick();
  uint32_t in = c.TotalInBytes;
  const std::string under(1048575, 'x'), at(1048576, 'x'), over(1048577, 'x');
  const std::pair<Reply, uint16_t> cases[] = {
      {{.failAt = Step::Send, .error = 12029}, 12029}, {{.failAt = Step::Open, .error = 12007}, 12007},
      {{.failAt = Step::Connect, .error = 12005}, 12005}, {{.status = 404, .body = "not here"}, 12003},
      {{.status = 500}, 12003}, {{.body = over}, 223}, {{.body = over, .announce = false}, 223},
      {{.body = under}, 0}, {{.body = at}, 0}, {{.body = under, .announce = false}, 0}, {{.body = at, .announce = false}, 0},
      {{.body = "1", .readMs = 60000}, 12002},
  };
  for (const auto& [reply, code] : cases) {
    http.Push(reply);
    events.clear();
    const uint32_t out = c.TotalOutBytes;
    Tick();
    EXPECT_EQ(events, (std::vector<std::string>{"status 1", code ? "error Ошибка сети " + std::to_string(code) : "status 2"}));
    EXPECT_EQ(c.TotalOutBytes, out + 544);
    EXPECT_EQ(c.TotalInBytes, in += code ? 0 : static_cast<uint32_t>(reply.body.size()));
    ASSERT_EQ(c.Items.size(), 1u);
    EXPECT_EQ(c.Items[0]->Title, "Kept");
  }
  http.Push({.body = Topics(false, {{"Slow", "s", "News", "1", "x"}}).body, .readMs = 59000});
  Tick();
  EXPECT_EQ(c.Items.at(0)->Title, "Slow") << "just under the minute";
}

TEST_F(Poll, TrafficCountersOfEachKindOfReplyWrapAtFourGibibytes) {
  TChecker& c = Make();
  const std::string text = ReplyText(false, {{"A", "a", "News", "1", "x"}});
  const std::string body = CompressedBody(text);
  const struct {
    std::string body;
    uint32_t in, unpacked;
  } cases[] = {{body, static_cast<uint32_t>(body.size()), static_cast<uint32_t>(text.size())}, {"1", 1, 1}, {"", 0, 0}};
  c.TotalOutBytes = 0xFFFFFFFFu - 100;
  c.TotalInBytes = 0xFFFFFFFFu;
  c.TotalInUnpacked = 0xFFFFFFFFu - 1;
  uint32_t in = c.TotalInBytes, unpacked = c.TotalInUnpacked;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.in);
    http.Push({.body = k.body});
    Tick();
    in += k.in;
    unpacked += k.unpacked;
    EXPECT_EQ(std::vector<uint32_t>({c.LastInBytes, c.LastInUnpacked, c.TotalInBytes, c.TotalInUnpacked}),
              std::vector<uint32_t>({k.in, k.unpacked, in, unpacked}));
  }
  EXPECT_EQ(c.TotalOutBytes, 3 * 544u - 101);
  EXPECT_EQ(c.LastOutBytes, 544u);
}

// A save that fails (its temporary file cannot be made) leaves the previous
// file whole; the next one writes.
TEST_F(Poll, SavedStateComesBackAndAutostartFollowsTheSetting) {
  TChecker& c = Make();
  c.Password = "secret";
  c.Nick = "Nick";
  c.Favorites.Add("fav");
  c.TotalOutBytes = 1234;
  for (bool on : {true, false, true}) {
    c.AutoStart = on;
    c.SaveData();
    EXPECT_EQ(registry.Values.count(kRunEntry), on ? 1u : 0u);
  }
  // Quoted: the path may hold blanks, and an unquoted one runs "C:\\Program.exe" first.
  EXPECT_EQ(registry.Values[kRunEntry], "\"" + dir.Path() + "ZeltInformer.exe\"");
  EXPECT_EQ(DataBytes().find("secret"), std::string::npos) << "the password is scrambled on disk";
  const std::string before = DataBytes();
  std::filesystem::create_directory(dir / "data.dat.tmp");
  c.Nick = "Ivan";
  c.SaveData();
  EXPECT_EQ(DataBytes(), before);
  std::filesystem::remove(dir / "data.dat.tmp");
  // Without a Run key (a stripped system) none is made.
  registry.Keys.erase(kRunKey);
  registry.Values.clear();
  c.SaveData();
  EXPECT_TRUE(registry.Values.empty());

  checker.reset();
  TChecker& again = Make();
  EXPECT_EQ(again.Password, "secret");
  EXPECT_EQ(again.Nick, "Ivan");
  EXPECT_TRUE(again.AutoStart);
  EXPECT_EQ(again.TotalOutBytes, 1234u);
  EXPECT_EQ(again.Favorites.Lines(), std::vector<std::string>{"fav"});
}

// A damaged or hand-edited data.dat: what is whole is read and the rest
// keeps its default; the interval and the topic count come into the ranges
// the settings window allows, as it would correct them.
TEST_F(Poll, ADamagedFileLoadsWhatIsWholeWithinRange) {
  const auto file = [](int32_t interval, int32_t topics, const std::string& nick = "") {
    TDataImage image;
    image.IntervalMs = interval;
    image.TopicCount = topics;
    image.Nick = nick;
    return SerializeDataImage(image);
  };
  const std::string whole = file(120000, 20, "kept");
  const struct {
    std::string bytes;
    int32_t interval, topics;
    std::string nick;
  } cases[] = {
      {file(1, -5), 60000, 1, ""},         {file(59999, 31), 60000, 30, ""},  {file(-1, INT32_MIN), 60000, 1, ""},
      {file(INT32_MAX, INT32_MAX), 3600000, 30, ""},  {file(90000, 7), 90000, 7, ""},  {file(0, 0), 300000, 10, ""},
      {whole.substr(0, 52), 120000, 10, ""},  // cut after the interval
      {whole.substr(0, whole.size() - 20), 120000, 20, "kept"},  {"", 300000, 10, ""},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(&k - cases);
    ASSERT_TRUE(ReplaceFileBytes(DataPath(), k.bytes));
    TChecker& c = Make();
    EXPECT_EQ(c.IntervalMs, k.interval);
    EXPECT_EQ(timer->Interval(), static_cast<uint32_t>(k.interval));
    EXPECT_EQ(c.TopicCount, k.topics);
    EXPECT_EQ(c.Nick, k.nick);
    checker.reset();
  }
}

// An older data.dat holds whatever that version stored from the server: each
// entry is kept when this version could have stored it (fields within the
// caps of the reply fields they came from, no line break or NUL; forum names
// as a forum list gives them), and each list keeps at most its cap: the
// newest 999 read marks, the first 999 favourites and 2000 forum names.
TEST_F(Poll, AnOlderFileKeepsWhatThisVersionCouldHaveStored) {
  enum { marks, favorites, forums };
  const std::string base = ForumBaseUrl(), nul(1, '\0'), s = "\x11";
  const std::string key = base + std::string(512, 'k') + "-1", open = base + std::string(512, 'o') + "-0-17";
  const std::string title = std::string(512, 't'), forum = std::string(200, 'f');
  const struct {
    int list;
    std::string entry, loaded;  // nothing loaded: dropped
  } cases[] = {
      {marks, key + s + "12345678901", key + s + "12345678901"},  {marks, key + "k" + s + "1", ""},
      {marks, "x" + s + "123456789012", ""},  {marks, "a\nb" + s + "1", ""},  {marks, "x" + nul + s + "1", ""},
      {marks, "x" + s + "1" + s + "2", ""},  {marks, "L" + s + "7", "L" + s + "7"},
      {favorites, title + s + forum + s + open + s, title + s + forum + s + open + s},
      {favorites, title + "t" + s + "F" + s + "L" + s, ""},  {favorites, "T" + s + forum + "f" + s + "L" + s, ""},
      {favorites, "T" + s + "F" + s + open + "o" + s, ""},  {favorites, "T" + s + "F" + s + "L" + s + "x", ""},
      {favorites, "T\n" + s + "F" + s + "L" + s, ""},  {favorites, "T" + s + "F", "T" + s + "F"},
      {forums, std::string(198, 'n') + "=1", std::string(198, 'n') + "=1"},  {forums, std::string(199, 'n') + "=1", ""},
      {forums, "L\nF" + s + "=2", "LF=2"},  {forums, "no sign", ""},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(&k - cases);
    TDataImage image;
    TStringList* written[] = {&image.ReadMarks, &image.Favorites, &image.ForumNames};
    written[k.list]->Add(k.entry);
    WriteData(image);
    TChecker& c = Make();
    const TStringList* loaded[] = {&c.ReadMarks, &c.Favorites, &c.ForumNames};
    EXPECT_EQ(loaded[k.list]->Lines(), k.loaded.empty() ? std::vector<std::string>{} : std::vector<std::string>{k.loaded});
    checker.reset();
  }
  for (const size_t n : {998, 999, 1000}) {
    TDataImage image;
    for (size_t i = 0; i < n; ++i) {
      image.ReadMarks.Add("m" + std::to_string(i) + s + "1");
      image.Favorites.Add("f" + std::to_string(i) + s);
    }
    for (size_t i = 0; i < n + 1001; ++i) image.ForumNames.Add("F=" + std::to_string(i));
    WriteData(image);
    TChecker& c = Make();
    EXPECT_EQ(std::vector<size_t>({c.ReadMarks.Count(), c.Favorites.Count(), c.ForumNames.Count()}),
              std::vector<size_t>({std::min<size_t>(n, 999), std::min<size_t>(n, 999), std::min<size_t>(n + 1001, 2000)}));
    EXPECT_EQ(c.ReadMarks[0], "m" + std::to_string(n - c.ReadMarks.Count()) + s + "1") << "the newest stay";
    EXPECT_EQ(c.Favorites[0], "f0" + s);
    checker.reset();
  }
}

// A data.dat longer than the 64 MiB read limit (a read mark list grown by an
// older version): every read mark whose line ends before the limit stays,
// the one cut by it and the overlong one go.
TEST_F(Poll, AFileLongerThanTheReadLimitKeepsTheReadMarksBeforeIt) {
  const std::string a = ForumBaseUrl() + "a-1\x11" "1", b = ForumBaseUrl() + "b-1\x11" "2";
  for (const size_t over : {0, 1, 2}) {  // bytes past 64 MiB: none, the last LF, the last CR LF
    TDataImage image;
    for (const std::string& m : {a, std::string(), b}) image.ReadMarks.Add(m);
    image.ReadMarks[1].resize((64u << 20) + over - SerializeDataImage(image).size(), 'j');
    WriteData(image);
    ASSERT_EQ(DataBytes().size(), 64u << 20) << "read up to the limit";
    const std::vector<std::string> kept = over < 2 ? std::vector<std::string>{a, b} : std::vector<std::string>{a};
    EXPECT_EQ(Make().ReadMarks.Lines(), kept) << over;
    checker.reset();
  }
}

// The end stops the sound and the request; a reply still in the network or
// already queued for the GUI thread reaches nothing.
TEST_F(Poll, TheEndStopsTheRequestTheSoundAndEveryLateReply) {
  for (const Step hold : {Step::Read, Step::None}) {
    http.Push(Reply{.body = "1", .holdAt = hold});
    events.clear();
    TChecker& c = Make();
    c.SoundNewMessages = "new.ogg";
    c.SelectSound(0);
    c.StartPolling();
    if (hold == Step::None) {
      ReplyWaits();  // the request has ended; its reply waits in the queue
    } else {
      ASSERT_TRUE(http.WaitHeld());
    }
    checker.reset();
    EXPECT_EQ(Checker, nullptr);
    EXPECT_EQ(sound.Playing(), "");
    http.Release();
    // Whatever the request thread would post, it has posted once its handles are closed.
    ASSERT_TRUE(http.WaitIdle());
    const size_t ran = gui.RunPending();
    EXPECT_TRUE(hold != Step::None || ran == 1) << "the reply was queued";
    EXPECT_EQ(events, std::vector<std::string>{"status 1"});
  }
}

}  // namespace
}  // namespace zelt::fake
