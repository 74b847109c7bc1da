// Hostile input reaching the checker: texts that would split a stored entry,
// links that are not forum links, replies far larger than asked for, replies
// handled after the state moved on, a damaged data.dat, and a request left
// in the network when everything else is gone.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/DataFile.h"
#include "core/FileIO.h"
#include "core/ReplyDecoding.h"
#include "net/HTTPDownload.h"
#include "tests/support/CheckerFixture.h"

namespace zelt::fake {
namespace {

using Hostile = CheckerTest;

size_t Separators(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\x11')); }

TEST(ForumLink, OnlyForumLinksMayGoToTheShell) {
  const std::string base = ForumBaseUrl();
  const struct {
    std::string link;
    bool opened;
  } cases[] = {
      {base + "topic-1-0-17", true},
      {"", false},
      {"\\\\host\\share\\x.exe", false},
      {"C:\\Windows\\notepad.exe", false},
      {"file:///C:/x.exe", false},
      {"http://elsewhere.example/forum/t", false},
      {base.substr(0, base.size() - 1), false},
      {base + "t x", false},
      {base + "t\"x", false},
      {base + "t'x", false},
      {base + "t\tx", false},
      {base + "t\x7f", false},
      {base + std::string("t\0x", 3), false},
  };
  for (const auto& k : cases) EXPECT_EQ(IsForumLink(k.link), k.opened) << k.link;
}

// Separator and line-break bytes from the server, raw or as references, never
// reach a stored entry: a read mark keeps one separator, a favourite three, a
// forum name none, and data.dat reads back the same lists.
TEST_F(Hostile, ServerTextNeverSplitsAStoredEntry) {
  TChecker& c = Make();
  const std::string nul(1, '\0');
  c.HandleReply(CompressedBody("Ok=1\r\nNews\x11\\\\host\\share\\x.exe=5\r\nL\nF=6\r\nN" + nul + "=7\r\nno sign\r\n" +
                               std::string(kMaxForumLineBytes, 'x') + "=8\r\n"),
                {true, 10});
  EXPECT_EQ(c.ForumNames.Lines(), (std::vector<std::string>{"Ok=1", "News\\\\host\\share\\x.exe=5", "LF=6", "N=7"}));

  const std::string evil = "a&#13;b\rc&#10;d\ne&#0;f" + nul + "g";
  c.HandleReply(CompressedBody(ReplyText(false, {{evil, "p" + evil, "5", "3" + evil, "u" + evil}, {"T", "t", evil, "1", "x"}})),
                {false, 10});
  ASSERT_EQ(c.Items.size(), 2u);
  EXPECT_EQ(c.Items[0]->Title, "abcdefg");
  EXPECT_EQ(c.Items[0]->Forum, "News\\\\host\\share\\x.exe");
  for (auto& item : c.Items) {
    c.AddFavorite(item.get());
    c.MarkItemRead(item.get());
  }
  for (const auto& e : c.Favorites.Lines()) EXPECT_EQ(Separators(e), 3u) << e;
  for (const auto& e : c.ReadMarks.Lines()) EXPECT_EQ(Separators(e), 1u) << e;
  TDataImage onDisk;
  ASSERT_TRUE(ParseDataImage(DataBytes(), onDisk));
  EXPECT_EQ(onDisk.Favorites.Lines(), c.Favorites.Lines());
  EXPECT_EQ(onDisk.ReadMarks.Lines(), c.ReadMarks.Lines());
  EXPECT_EQ(onDisk.ForumNames.Lines(), c.ForumNames.Lines());
}

// A reply far larger than asked for applies at most the asked number of
// topics (and saves at most that often for the user's own posts); a forum
// list keeps a bounded number of lines.
TEST_F(Hostile, RepliesApplyNoMoreThanAskedFor) {
  TChecker& c = Make();
  c.IgnoreOwnPosts = true;
  c.Nick = "me";
  std::vector<Topic> topics;
  std::string forums;
  for (int i = 0; i < 3000; ++i) {
    topics.push_back({"T", "t" + std::to_string(i), "Talk", "1", "me"});
    forums += "F=" + std::to_string(i) + "\r\n";
  }
  const std::string body = CompressedBody(ReplyText(false, topics));
  for (int32_t asked : {1, 30, 0}) {
    const size_t saves = registry.Calls;
    c.HandleReply(body, {false, asked});
    EXPECT_EQ(c.Items.size(), static_cast<size_t>(asked));
    EXPECT_LE(registry.Calls - saves, static_cast<size_t>(asked));
  }
  c.HandleReply(CompressedBody(forums), {true, 10});
  EXPECT_EQ(c.ForumNames.Count(), kMaxForumLines);
}

// A reply is read as the kind its request asked for, whatever changed since.
TEST_F(Hostile, EachReplyKeepsItsKind) {
  TChecker& c = Make();
  c.HandleReply(CompressedBody(ReplyText(false, {{"A", "a", "News", "1", "x"}})), {false, 10});
  c.HandleReply(CompressedBody("Other=16\r\n"), {true, 10});  // NeedForumList is false
  EXPECT_EQ(c.ForumNames.Lines(), std::vector<std::string>{"Other=16"});
  EXPECT_EQ(c.Items[0]->Title, "A");
  c.NeedForumList = true;
  c.HandleReply(CompressedBody(ReplyText(false, {{"B", "b", "16", "2", "x"}})), {false, 10});
  EXPECT_EQ(c.ForumNames.Lines(), std::vector<std::string>{"Other=16"});
  ASSERT_EQ(c.Items.size(), 1u);
  EXPECT_EQ(c.Items[0]->Title, "B");
}

// A damaged or hand-edited data.dat: what is whole is read and the rest
// keeps its default; the interval and the topic count come into the ranges
// the settings window allows, as it would correct them.
TEST_F(Hostile, ADamagedFileLoadsWhatIsWholeWithinRange) {
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

// A request left behind by Stop keeps its transport until its thread ends,
// though everyone else has let go of it (the program exits while a request
// hangs in the network).
TEST(NetLifetime, AStoppedRequestKeepsItsTransportUntilItEnds) {
  GuiQueue gui;
  auto transport = std::make_shared<Transport>();
  transport->Push(Reply{.holdAt = Step::Send});
  const std::weak_ptr<Transport> weak = transport;
  Transport* const raw = transport.get();
  {
    HTTPDownload d(transport, gui);
    d.OnDownloaded = [](HTTPDownload&, TMemoryStream&) {};
    ASSERT_TRUE(d.Start("http://host/path"));
    ASSERT_TRUE(gui.RunUntil([&] { return raw->Held(); }));
  }
  transport.reset();
  ASSERT_FALSE(weak.expired());
  raw->Release();
  EXPECT_TRUE(gui.RunUntil([&] { return weak.expired(); }));
}

}  // namespace
}  // namespace zelt::fake
