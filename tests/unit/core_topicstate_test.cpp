// Replies applied on the GUI thread: the kinds of reply, records and links,
// read marks, the user's own posts, forum names and favourites.
#include <string>
#include <vector>

#include "core/DataFile.h"
#include "tests/unit/core_fakes.h"

namespace zelt::testing {
namespace {

using namespace std::string_literals;

class TopicState : public CheckerTest {
 protected:
  void SetUp() override {
    CheckerTest::SetUp();
    Make();
    events.clear();
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> t;
    for (const auto& i : checker->Items) t.push_back(i->Title);
    return t;
  }
  const TItemData& Item(size_t i) const { return *checker->Items.at(i); }
};

TEST_F(TopicState, FullReplyBuildsRecordsAndLinks) {
  TChecker& c = *checker;
  const std::string rest = Record("&quot;Q&quot; &amp;lt;b&gt; &#1055;&#1088;&#1080;", "topic-12", "News",
                                  "7", "Petr");
  c.HandleReply(CompressedBody("0" + rest));
  ASSERT_EQ(c.Items.size(), 1u);
  EXPECT_EQ(Item(0).Title, "\"Q\" <b> \xCF\xF0\xE8");
  EXPECT_EQ(Item(0).KeyLink, ForumBaseUrl() + "topic-12-1");
  EXPECT_EQ(Item(0).OpenLink, ForumBaseUrl() + "topic-12-0-17");
  EXPECT_EQ(ForumBaseUrl(), std::string(build::kForumSite) + "/forum/");
  EXPECT_EQ(Item(0).Forum, "News");
  EXPECT_EQ(Item(0).Replies, "7");
  EXPECT_EQ(Item(0).Author, "Petr");
  EXPECT_FALSE(Item(0).Read);
  EXPECT_EQ(Item(0).NewCount, 7);
  EXPECT_EQ(c.LastReply, rest);  // kept undecoded, without the flag
  EXPECT_FALSE(c.UpdateAvailable);
  EXPECT_TRUE(c.HaveData);
}

TEST_F(TopicState, RecordsEndAtAnEmptyFieldOrAPartialRecord) {
  const struct {
    std::string text;
    std::vector<std::string> titles;
  } cases[] = {
      {"0" + Record("A", "a", "F", "1", "x") + "B\x11" "b\x11" "F\x11" "1", {"A"}},  // partial record dropped
      {"0" + Record("A", "a", "F", "1", "x") + Record("B", "b", "F", "1", "") + Record("C", "c", "F", "1", "x"),
       {"A"}},                                                                          // empty field ends it
      {"0" + Record("A", "a", "F", "1", "x") + "C\x11" "c\x11" "F\x11" "1\x11" "x", {"A", "C"}},  // no final 0x11
      {"0T&#17;P\x11" "F\x11" "5\x11" "Au\x11", {"T"}},  // 17 decodes to a separator first
      {"0", {}},
      {"1", {}},
      {"0\x11\x11\x11\x11\x11", {}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    checker->UnreadCount = 5;
    checker->ParseReply(k.text);
    EXPECT_EQ(Titles(), k.titles);
    EXPECT_EQ(checker->UnreadCount, static_cast<int32_t>(k.titles.size()));
  }
  checker->ParseReply("0T&#17;P\x11" "F\x11" "5\x11" "Au\x11");
  EXPECT_EQ(Item(0).KeyLink, ForumBaseUrl() + "P-1");
}

TEST_F(TopicState, ShortAndPlainBodies) {
  TChecker& c = *checker;
  const std::string full = "1" + Record("A", "a", "F", "1", "x") + Record("B", "b", "F", "2", "y");
  const struct {
    const char* what;
    bool withPrevious;
    std::string body;
    std::vector<std::string> titles;
    bool update;
    std::vector<std::string> statuses;
  } cases[] = {
      {"one byte 1 re-applies the list", true, "1", {"A", "B"}, true, {"status 5", "status 2"}},
      {"one byte 0 re-applies the list", true, "0", {"A", "B"}, false, {"status 5", "status 2"}},
      {"no bytes re-apply the list, flag 0", true, "", {"A", "B"}, false, {"status 5", "status 2"}},
      {"no bytes without a previous reply", false, "", {}, false, {"status 5", "status 2"}},
      {"one byte without a previous reply", false, "1", {}, true, {"status 5", "status 2"}},
      {"plain text keeps everything", true, "plain text, not compressed", {"A", "B"}, true, {"status 2"}},
      {"two bytes of garbage keep everything", true, "\xFF\xFF", {"A", "B"}, true, {"status 2"}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    c.ResetReply();
    c.ClearItems();
    c.UpdateAvailable = false;
    if (k.withPrevious) c.HandleReply(CompressedBody(full));
    const std::string lastReply = c.LastReply;
    events.clear();
    c.HandleReply(k.body);
    EXPECT_EQ(Titles(), k.titles);
    EXPECT_EQ(c.UpdateAvailable, k.update);
    EXPECT_EQ(c.LastReply, lastReply);
    std::vector<std::string> statuses;
    for (const auto& e : events)
      if (e.rfind("status", 0) == 0 && e != "status 3" && e != "status 4") statuses.push_back(e);
    EXPECT_EQ(statuses, k.statuses);
  }
}

TEST_F(TopicState, NewVersionOnceAndNewMessagesWhenTheCountGrows) {
  TChecker& c = *checker;
  auto apply = [&](const std::string& text) {
    events.clear();
    c.HandleReply(CompressedBody(text));
    std::vector<std::string> s;
    for (const auto& e : events)
      if (e == "status 3" || e == "status 4") s.push_back(e);
    return s;
  };
  EXPECT_EQ(apply("1" + Record("A", "a", "F", "1", "x")), (std::vector<std::string>{"status 4", "status 3"}));
  EXPECT_EQ(apply("1" + Record("A", "a", "F", "1", "x")), std::vector<std::string>{});
  EXPECT_EQ(apply("0" + Record("A", "a", "F", "1", "x") + Record("B", "b", "F", "1", "x")),
            std::vector<std::string>{"status 4"});
  EXPECT_EQ(apply("1" + Record("A", "a", "F", "1", "x")), std::vector<std::string>{});
  EXPECT_TRUE(c.UpdateNotified);
  EXPECT_EQ(c.PrevUnreadCount, 1);
}

TEST_F(TopicState, ReadMarksFollowTheReplyCount) {
  TChecker& c = *checker;
  const std::string link = ForumBaseUrl() + "t-1";
  c.MarkRead(link, "12");
  const struct {
    std::string replies;
    bool read;
    int32_t newCount;
  } cases[] = {{"15", false, 3}, {"12", true, 0}, {"10", false, -2}, {"99999999999", false, INT32_MAX - 12},
               {"-2147483648", false, INT32_MIN}};
  for (const auto& k : cases) {
    c.ParseReply("0" + Record("T", "t", "F", k.replies, "x"));
    EXPECT_EQ(Item(0).Read, k.read) << k.replies;
    EXPECT_EQ(Item(0).NewCount, k.newCount) << k.replies;
    EXPECT_EQ(c.UnreadCount, k.read ? 0 : 1);
  }
  c.ParseReply("0" + Record("Never", "never", "F", "7", "x"));
  EXPECT_FALSE(Item(0).Read);
  EXPECT_EQ(Item(0).NewCount, 7);

  // Marking it read keeps the count it shows.
  const size_t saves = registry.Saves();
  c.MarkItemRead(c.Items[0].get());
  EXPECT_TRUE(Item(0).Read);
  EXPECT_EQ(Item(0).NewCount, 7);
  EXPECT_EQ(registry.Saves(), saves + 1);
  EXPECT_EQ(c.ReadMarks.Lines().back(), ForumBaseUrl() + "never-1\x11" "7");
}

TEST_F(TopicState, MarkReadReplacesInPlaceAndKeepsAtMost999) {
  TChecker& c = *checker;
  for (int i = 0; i < 998; ++i) c.ReadMarks.Add("L" + std::to_string(i) + "\x11" "1");
  c.MarkRead("L5", "2");  // an existing link: replaced where it stands
  EXPECT_EQ(c.ReadMarks[5], "L5\x11" "2");
  EXPECT_EQ(c.ReadMarks.Count(), 998u);
  c.MarkRead("new1", "1");  // 999: nothing goes
  EXPECT_EQ(c.ReadMarks.Count(), 999u);
  EXPECT_EQ(c.ReadMarks[0], "L0\x11" "1");
  c.MarkRead("new2", "1");  // the 1000th pushes out the oldest
  EXPECT_EQ(c.ReadMarks.Count(), 999u);
  EXPECT_EQ(c.ReadMarks[0], "L1\x11" "1");
  EXPECT_EQ(c.ReadMarks[998], "new2\x11" "1");
  const size_t saves = registry.Saves();
  c.MarkRead("new2", "1");  // already read at that count: saved, unchanged
  EXPECT_EQ(registry.Saves(), saves + 1);
  EXPECT_EQ(c.ReadMarks.Count(), 999u);
  // Every change is on disk at once.
  TDataImage onDisk;
  ASSERT_TRUE(ParseDataImage(DataFileBytes(), onDisk));
  EXPECT_EQ(onDisk.ReadMarks.Lines(), c.ReadMarks.Lines());
}

TEST_F(TopicState, OwnPostsCountAsReadByAsciiCaseFolding) {
  TChecker& c = *checker;
  c.Nick = "Ivan";
  const struct {
    bool ignoreOwn;
    std::string author;
    bool read;
  } cases[] = {
      {true, "IVAN", true},
      {true, "ivan", true},
      {true, "Ivan2", false},
      {false, "Ivan", false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.author);
    c.ReadMarks.Clear();
    c.IgnoreOwnPosts = k.ignoreOwn;
    const size_t saves = registry.Saves();
    c.ParseReply("0" + Record("T", "t", "F", "7", k.author) + Record("U", "u", "F", "1", "other"));
    EXPECT_EQ(Item(0).Read, k.read);
    EXPECT_EQ(Item(0).NewCount, 7);  // still shows its replies
    EXPECT_EQ(c.UnreadCount, k.read ? 1 : 2);
    EXPECT_EQ(registry.Saves(), saves + (k.read ? 1 : 0));
    EXPECT_EQ(c.ReadMarks.Count(), k.read ? 1u : 0u);
  }
  // Cyrillic letters are not folded: Иван against ИВАН.
  c.ReadMarks.Clear();
  c.IgnoreOwnPosts = true;
  c.Nick = "\xC8\xE2\xE0\xED";
  c.ParseReply("0" + Record("T", "t", "F", "7", "\xC8\xC2\xC0\xCD"));
  EXPECT_FALSE(Item(0).Read);
  c.ParseReply("0" + Record("T", "t", "F", "7", "\xC8\xE2\xE0\xED"));
  EXPECT_TRUE(Item(0).Read);
}

TEST_F(TopicState, ForumNames) {
  TChecker& c = *checker;
  c.ForumNames.SetText("General=15\r\nNews=5\r\nOld=05\r\n");
  const struct {
    std::string field, name;
    bool asks;
  } cases[] = {
      {"5", "News", false},      // ends with "=5": General=15 does not
      {"15", "General", false},
      {"05", "Old", false},
      {"Talk", "Talk", false},   // letters: the name itself
      {"0", "0", false},
      {"7", kForumPlaceholder, true},
      {"5x", kForumPlaceholder, true},  // the whole field must follow "="
      {"99999999999", kForumPlaceholder, true},
  };
  for (const auto& k : cases) {
    c.NeedForumList = false;
    EXPECT_EQ(c.ForumName(k.field), k.name) << k.field;
    EXPECT_EQ(c.NeedForumList, k.asks) << k.field;
  }
  c.NeedForumList = true;
  c.ForumName("5");
  EXPECT_TRUE(c.NeedForumList);  // a found name never clears the request
}

TEST_F(TopicState, TenUnknownForumsAskForTheListOnceAndItArrives) {
  TChecker& c = *checker;
  std::string text = "0";
  for (int i = 0; i < 10; ++i) text += Record("T" + std::to_string(i), "t" + std::to_string(i), std::to_string(20 + i), "1", "x");
  c.ParseReply(text);
  EXPECT_TRUE(c.NeedForumList);
  for (const auto& item : c.Items) EXPECT_EQ(item->Forum, kForumPlaceholder);

  const size_t saves = registry.Saves();
  events.clear();
  const std::string list = "Twenty=20\r\nTwentyOne=21\rX=1\r\n";
  c.HandleReply(CompressedBody(list));
  EXPECT_FALSE(c.NeedForumList);
  EXPECT_EQ(c.ForumNames.Lines(), (std::vector<std::string>{"Twenty=20", "TwentyOne=21", "X=1"}));
  EXPECT_EQ(registry.Saves(), saves + 1);
  EXPECT_EQ(events, std::vector<std::string>{"status 2"});  // no list change for a forum list
  EXPECT_EQ(c.LastInUnpacked, list.size());
  EXPECT_EQ(c.Items.size(), 10u);

  // A forum list that does not decompress leaves the names empty, saved so.
  c.NeedForumList = true;
  c.HandleReply("garbage");
  EXPECT_TRUE(c.ForumNames.Empty());
  TDataImage onDisk;
  ASSERT_TRUE(ParseDataImage(DataFileBytes(), onDisk));
  EXPECT_TRUE(onDisk.ForumNames.Empty());
}

TEST_F(TopicState, FavouritesHaveNoDuplicatesAndAreSavedOnce) {
  TChecker& c = *checker;
  c.ParseReply("0" + Record("T", "t", "News", "1", "x") + Record("T", "t", "News", "1", "x"));
  const size_t saves = registry.Saves();
  c.AddFavorite(c.Items[0].get());
  c.AddFavorite(c.Items[1].get());  // equal entry
  EXPECT_EQ(c.Favorites.Lines(), std::vector<std::string>{"T\x11News\x11" + ForumBaseUrl() + "t-0-17\x11"});
  EXPECT_EQ(registry.Saves(), saves + 1);
  TDataImage onDisk;
  ASSERT_TRUE(ParseDataImage(DataFileBytes(), onDisk));
  EXPECT_EQ(onDisk.Favorites.Lines(), c.Favorites.Lines());
}

}  // namespace
}  // namespace zelt::testing
