// Replies applied on the GUI thread: records and links, short and plain
// bodies, new versions and new messages, read marks, the user's own posts,
// forum names and favourites; and hostile ones: texts that would split a
// stored entry, links that are not forum links, replies far larger than
// asked for, replies handled after the state moved on.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "BuildConfig.h"
#include "tests/support/CheckerFixture.h"

namespace zelt::fake {
namespace {

class Topics : public CheckerTest {
 protected:
  void SetUp() override { Make(); }
  std::vector<std::string> Titles() const {
    std::vector<std::string> t;
    for (const auto& i : checker->Items) t.push_back(i->Title);
    return t;
  }
  const TItemData& Item(size_t i) const { return *checker->Items.at(i); }
  void Apply(bool newVersion, const std::vector<Topic>& topics) {
    checker->HandleReply(CompressedBody(ReplyText(newVersion, topics)));
  }
};

TEST_F(Topics, ARecordBecomesAnItemWithDecodedTextsAndForumLinks) {
  const std::string text = ReplyText(false, {{"&quot;Q&quot; &amp;lt;b&gt; &#1055;&#1088;&#1080;", "topic-12", "News",
                                              "7", "&#1055;etr"}});
  checker->HandleReply(CompressedBody(text));
  ASSERT_EQ(checker->Items.size(), 1u);
  const TItemData& i = Item(0);
  const std::string forum = std::string(build::kForumSite) + "/forum/";
  EXPECT_EQ((std::vector<std::string>{i.Title, i.Author, i.KeyLink, i.OpenLink, i.Forum, i.Replies}),
            (std::vector<std::string>{"\"Q\" <b> При", "Пetr", forum + "topic-12-1", forum + "topic-12-0-17", "News", "7"}));
  EXPECT_EQ(checker->LastReply, text.substr(1)) << "kept undecoded, without the flag";
}

TEST_F(Topics, RecordsEndAtAnEmptyFieldOrAPartialRecord) {
  const std::string a = ReplyText(false, {{"A", "a", "F", "1", "x"}});
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {a + "B\x11" "b\x11" "F\x11" "1", {"A"}},                                    // a partial record
      {a + ReplyText(false, {{"B", "b", "F", "1", ""}, {"C", "c", "F", "1", "x"}}).substr(1), {"A"}},  // an empty field
      {a + "C\x11" "c\x11" "F\x11" "1\x11" "x", {"A", "C"}},                       // no final 0x11
      {"0T&#17;P\x11" "F\x11" "5\x11" "Au\x11", {"T"}},                            // 17 decodes to a separator
      {"0", {}},
      {"0\x11\x11\x11\x11\x11", {}},
  };
  for (const auto& [text, titles] : cases) {
    SCOPED_TRACE(text);
    checker->ParseReply(text);
    EXPECT_EQ(Titles(), titles);
    EXPECT_EQ(checker->UnreadCount, static_cast<int32_t>(titles.size()));
  }
}

TEST_F(Topics, ShortAndPlainBodiesReapplyOrKeepTheList) {
  const std::vector<Topic> two = {{"A", "a", "F", "1", "x"}, {"B", "b", "F", "2", "y"}};
  const struct {
    const char* what;
    bool withPrevious;
    std::string body;
    bool update;
  } cases[] = {
      {"one byte 1 re-applies the list", true, "1", true},
      {"one byte 0 re-applies the list", true, "0", false},
      {"no bytes re-apply the list, flag 0", true, "", false},
      {"no bytes without a previous reply", false, "", false},
      {"plain text keeps everything", true, "plain text, not compressed", true},
      {"two bytes of garbage keep everything", true, "\xFF\xFF", true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    checker->ResetReply();
    checker->ClearItems();
    checker->UpdateAvailable = false;
    if (k.withPrevious) Apply(true, two);
    const std::string lastReply = checker->LastReply;
    checker->HandleReply(k.body);
    EXPECT_EQ(Titles(), (k.withPrevious ? std::vector<std::string>{"A", "B"} : std::vector<std::string>{}));
    EXPECT_EQ(checker->UpdateAvailable, k.update);
    EXPECT_EQ(checker->LastReply, lastReply);
    EXPECT_EQ(events.back(), "status 2");
  }
}

TEST_F(Topics, ANewVersionIsToldOnceAndNewMessagesWhenTheUnreadCountGrows) {
  const Topic a{"A", "a", "F", "1", "x"}, b{"B", "b", "F", "1", "x"};
  const struct {
    bool newVersion;
    std::vector<Topic> topics;
    std::vector<std::string> news;  // the reports of new messages (4) and of a new version (3)
  } steps[] = {{true, {a}, {"status 4", "status 3"}}, {true, {a}, {}}, {false, {a, b}, {"status 4"}}, {true, {a}, {}}};
  for (const auto& k : steps) {
    events.clear();
    Apply(k.newVersion, k.topics);
    std::erase_if(events, [](const std::string& e) { return e != "status 3" && e != "status 4"; });
    EXPECT_EQ(events, k.news) << &k - steps;
  }
}

TEST_F(Topics, AReadMarkHoldsTheReplyCountItWasReadAt) {
  const std::string link = ForumBaseUrl() + "t-1";
  checker->MarkRead(link, "12");
  const struct {
    std::string replies;
    bool read;
    int32_t newCount;
  } cases[] = {{"15", false, 3}, {"12", true, 0}, {"10", false, -2}, {"99999999999", false, INT32_MAX - 12},
               {"-2147483648", false, INT32_MIN}};
  for (const auto& k : cases) {
    Apply(false, {{"T", "t", "F", k.replies, "x"}});
    EXPECT_EQ(Item(0).Read, k.read) << k.replies;
    EXPECT_EQ(Item(0).NewCount, k.newCount) << k.replies;
  }
  // Marking it read keeps the count it shows, and is on disk at once.
  checker->MarkItemRead(checker->Items[0].get());
  EXPECT_TRUE(Item(0).Read);
  EXPECT_EQ(Item(0).NewCount, INT32_MIN);
  EXPECT_EQ(Data().ReadMarks.Lines(), std::vector<std::string>{link + "\x11-2147483648"});
}

TEST_F(Topics, ReadMarksKeepTheNewest999AndReplaceInPlace) {
  TChecker& c = *checker;
  for (int i = 0; i < 998; ++i) c.ReadMarks.Add("L" + std::to_string(i) + "\x11" "1");
  c.MarkRead("L5", "2");
  EXPECT_EQ(c.ReadMarks[5], "L5\x11" "2");
  c.MarkRead("new1", "1");
  EXPECT_EQ(c.ReadMarks.Count(), 999u);
  EXPECT_EQ(c.ReadMarks[0], "L0\x11" "1");
  c.MarkRead("new2", "1");  // the 1000th pushes out the oldest
  EXPECT_EQ(c.ReadMarks.Count(), 999u);
  EXPECT_EQ(c.ReadMarks[0], "L1\x11" "1");
  EXPECT_EQ(Data().ReadMarks.Lines(), c.ReadMarks.Lines());
}

TEST_F(Topics, TheUsersOwnPostsCountAsReadByAsciiCaseFolding) {
  const struct {
    bool ignoreOwn;
    std::string nick, author;
    bool read;
  } cases[] = {
      {true, "Ivan", "IVAN", true},     {true, "Ivan", "ivan", true},   {true, "Ivan", "Ivan2", false},
      {false, "Ivan", "Ivan", false},   {true, "Иван", "ИВАН", false},  {true, "Иван", "Иван", true},
      {true, "[a]", "{A}", false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.author);
    checker->ReadMarks.Clear();
    checker->SaveData();
    checker->IgnoreOwnPosts = k.ignoreOwn;
    checker->Nick = k.nick;
    Apply(false, {{"T", "t", "F", "7", k.author}, {"U", "u", "F", "1", "other"}});
    EXPECT_EQ(Item(0).Read, k.read);
    EXPECT_EQ(Item(0).NewCount, 7) << "it still shows its replies";
    EXPECT_EQ(checker->UnreadCount, k.read ? 1 : 2);
    EXPECT_EQ(Data().ReadMarks.Count(), k.read ? 1u : 0u) << "saved as read";
  }
}

TEST_F(Topics, ForumIdsAreNamedFromTheForumListAndAnUnknownOneAsksForIt) {
  TChecker& c = *checker;
  c.ForumNames.SetText("General=15\r\nNews=5\r\nOld=05\r\n");
  const struct {
    std::string field, name;
    bool asks;
  } cases[] = {
      {"5", "News", false},  {"15", "General", false}, {"05", "Old", false},
      {"Talk", "Talk", false},  // letters: the name itself
      {"7", kForumPlaceholder, true}, {"5x", kForumPlaceholder, true}, {"99999999999", kForumPlaceholder, true},
  };
  for (const auto& k : cases) {
    c.NeedForumList = false;
    Apply(false, {{"T", "t", k.field, "1", "x"}});
    EXPECT_EQ(Item(0).Forum, k.name) << k.field;
    EXPECT_EQ(c.NeedForumList, k.asks) << k.field;
  }
  // The list arrives as the next reply, replaces the names and is saved; a
  // list that does not inflate leaves none.
  c.HandleReply(CompressedBody("Twenty=20\r\nX=1\rY=2\r\n"));
  EXPECT_FALSE(c.NeedForumList);
  EXPECT_EQ(Data().ForumNames.Lines(), (std::vector<std::string>{"Twenty=20", "X=1", "Y=2"}));
  EXPECT_EQ(Titles(), std::vector<std::string>{"T"}) << "a forum list changes no topic";
  c.NeedForumList = true;
  c.HandleReply("garbage");
  EXPECT_TRUE(Data().ForumNames.Empty());
}

TEST_F(Topics, AFavouriteIsAddedOnceAndSaved) {
  Apply(false, {{"T", "t", "News", "1", "x"}, {"T", "t", "News", "1", "x"}, {"U", "u", "News", "1", "x"}});
  for (size_t i : {0, 1, 2, 0}) checker->AddFavorite(checker->Items[i].get());
  EXPECT_EQ(Data().Favorites.Lines(), (std::vector<std::string>{"T\x11News\x11" + ForumBaseUrl() + "t-0-17\x11",
                                                                "U\x11News\x11" + ForumBaseUrl() + "u-0-17\x11"}));
  // At most 999: from 998, one more is added and the next is not.
  for (int i = 0; i < 996; ++i) checker->Favorites.Add("f" + std::to_string(i));
  Apply(false, {{"V", "v", "News", "1", "x"}, {"W", "w", "News", "1", "x"}});
  for (size_t i : {0, 1}) checker->AddFavorite(checker->Items[i].get());
  EXPECT_EQ(Data().Favorites.Count(), 999u);
  EXPECT_EQ(Data().Favorites.Lines().back(), "V\x11News\x11" + ForumBaseUrl() + "v-0-17\x11");
}

// A topic link is the forum base URL, then a path of letters, digits, '-',
// '_', '.' and '/' without a ".." segment, then perhaps a query of name=value
// pairs: nothing that calls another page of the forum host or leaves it.
TEST(ForumLink, OnlyForumLinksMayGoToTheShell) {
  const std::string base = ForumBaseUrl();
  for (const char* path : {"topic-1-0-17", "", "f_2/viewtopic.php?t=5&start=-0-17", "..-1", "a/./.../b", "t?x=&Y=z.1"})
    EXPECT_TRUE(IsForumLink(base + path)) << path;
  const std::vector<std::string> refused = {
      "", "\\\\host\\share\\x.exe", "C:\\Windows\\notepad.exe", "file:///C:/x.exe", "http://elsewhere.example/forum/t",
      base.substr(0, base.size() - 1), base + "t x", base + "t\"x", base + "t'x", base + "t\tx", base + "t\x7f",
      base + std::string("t\0x", 3), base + "../../member.php?action=logout&x=", base + "a/../../b", base + "..",
      base + "%2e%2e/x", base + "..\\x", base + "t%20", base + "t\\", base + "t?a", base + "t?=1", base + "t?a=b=c",
      base + "t?a=1&", base + "t?a=/", base + "t#x", base + "t\xC0",
      // the forum address elsewhere than at the start
      "http://elsewhere.example/?u=" + base + "t", "x" + base + "t", " " + base + "t", base.substr(7) + "t",
      "http://elsewhere.example/" + base};
  for (const std::string& link : refused) EXPECT_FALSE(IsForumLink(link)) << link;
}

// Separator and line-break bytes from the server, raw or as references, never
// reach a field a stored entry is made of (the reply fuzzer's corpus holds
// such replies and checks the stored lists and data.dat).
TEST_F(Topics, ServerTextNeverSplitsAStoredEntry) {
  TChecker& c = *checker;
  const std::string nul(1, '\0');
  c.HandleReply(CompressedBody("Ok=1\r\nNews\x11\\\\host\\share\\x.exe=5\r\nL\nF=6\r\nN" + nul + "=7\r\nno sign\r\n"),
                {true, 10});
  EXPECT_EQ(c.ForumNames.Lines(), (std::vector<std::string>{"Ok=1", "News\\\\host\\share\\x.exe=5", "LF=6", "N=7"}));

  const std::string evil = "a&#13;b\rc&#10;d\ne&#0;f" + nul + "g";
  c.HandleReply(CompressedBody(ReplyText(false, {{evil, "p" + evil, "5", "3" + evil, "u" + evil}, {"T", "t", evil, "1", "x"}})),
                {false, 10});
  ASSERT_EQ(c.Items.size(), 2u);
  const TItemData& i = *c.Items[0];
  EXPECT_EQ((std::vector<std::string>{i.Title, i.KeyLink, i.Replies, i.Author, c.Items[1]->Forum}),
            (std::vector<std::string>{"abcdefg", ForumBaseUrl() + "pabcdefg-1", "3abcdefg", "uabcdefg", "abcdefg"}));
  EXPECT_EQ(i.Forum, "News\\\\host\\share\\x.exe");
}

// A reply far larger than asked for applies at most the asked number of
// topics (and saves at most that often for the user's own posts); a forum
// list keeps at most 2000 lines of at most 200 bytes.
TEST_F(Topics, RepliesApplyNoMoreThanAskedFor) {
  TChecker& c = *checker;
  c.IgnoreOwnPosts = true;
  c.Nick = "me";
  const struct {
    int records;
    int32_t asked;
  } cases[] = {{3000, 1}, {3000, 0}, {29, 30}, {30, 30}, {31, 30}};
  for (const auto& k : cases) {
    std::vector<Topic> topics;
    for (int i = 0; i < k.records; ++i) topics.push_back({"T", "t" + std::to_string(i), "Talk", "1", "me"});
    const size_t saves = registry.Calls;
    c.HandleReply(CompressedBody(ReplyText(false, topics)), {false, k.asked});
    EXPECT_EQ(c.Items.size(), static_cast<size_t>(std::min(k.records, k.asked))) << k.records;
    EXPECT_LE(registry.Calls - saves, static_cast<size_t>(k.asked));
  }
  for (const size_t lines : {1999, 2000, 2001}) {
    std::string forums;
    for (size_t i = 0; i < lines; ++i) forums += "F=" + std::to_string(i) + "\r\n";
    c.HandleReply(CompressedBody(forums), {true, 10});
    EXPECT_EQ(c.ForumNames.Count(), std::min<size_t>(lines, 2000));
  }
  const std::string line199 = std::string(197, 'x') + "=8";
  c.HandleReply(CompressedBody(line199 + "\r\n" + line199 + "x\r\n" + line199 + "xx\r\n"), {true, 10});
  EXPECT_EQ(c.ForumNames.Lines(), (std::vector<std::string>{line199, line199 + "x"}));
}

// Each field at one under, at and one over its cap (title 512, path 512,
// forum 200, replies 11, author 256 bytes), and paths that leave the forum: a
// record over a cap or with such a path is dropped and never becomes a read
// mark (the user's own posts are); the record after it still applies.
TEST_F(Topics, ARecordOverAFieldCapOrLeavingTheForumIsDropped) {
  checker->IgnoreOwnPosts = true;
  checker->Nick = "me";
  std::vector<std::pair<std::vector<std::string>, bool>> cases;
  const size_t caps[] = {512, 512, 200, 11, 256};
  for (size_t f = 0; f < 5; ++f)
    for (const size_t n : {caps[f] - 1, caps[f], caps[f] + 1}) {
      std::vector<std::string> fields = {"T", "t", "News", "1", "me"};
      fields[f].resize(n, '7');
      cases.push_back({fields, n <= caps[f]});
    }
  for (const char* path : {"../../member.php?action=logout&x=", "&#37;2e&#37;2e/x", "..&#92;x", "a/../b", "t?a"})
    cases.push_back({{"T", path, "News", "1", "me"}, false});
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& [f, kept] = cases[i];
    SCOPED_TRACE(i);
    checker->ReadMarks.Clear();
    Apply(false, {{f[0], f[1], f[2], f[3], f[4]}, {"After", "after", "News", "1", "me"}});
    EXPECT_EQ(Titles(), kept ? (std::vector<std::string>{f[0], "After"}) : std::vector<std::string>{"After"});
    EXPECT_EQ(Data().ReadMarks.Count(), kept && f[4] == "me" ? 2u : 1u);
  }
  // A dropped record is still one of those asked for.
  checker->HandleReply(CompressedBody(ReplyText(false, {{"T", "..", "News", "1", "me"}, {"U", "u", "News", "1", "me"}})),
                       {false, 1});
  EXPECT_TRUE(Titles().empty());
}

// A reply is read as the kind its request asked for, whatever changed since.
TEST_F(Topics, EachReplyKeepsItsKind) {
  TChecker& c = *checker;
  c.HandleReply(CompressedBody(ReplyText(false, {{"A", "a", "News", "1", "x"}})), {false, 10});
  c.HandleReply(CompressedBody("Other=16\r\n"), {true, 10});  // NeedForumList is false
  EXPECT_EQ(c.ForumNames.Lines(), std::vector<std::string>{"Other=16"});
  EXPECT_EQ(c.Items[0]->Title, "A");
  c.NeedForumList = true;
  c.HandleReply(CompressedBody(ReplyText(false, {{"B", "b", "16", "2", "x"}})), {false, 10});
  EXPECT_EQ(c.ForumNames.Lines(), std::vector<std::string>{"Other=16"});
  EXPECT_EQ(Titles(), std::vector<std::string>{"B"});
}

}  // namespace
}  // namespace zelt::fake
