// The topics of a reply text: records and links, new versions and new
// messages, read marks and forum names; and hostile ones: links that are not
// forum links, replies far larger than asked for. (Partial records, fields
// over their caps and texts that would split a stored entry are the reply
// fuzzer's corpus; the user's own posts and favourites the checker's test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "core/ReplyDecoding.h"
#include "core/Topics.h"
#include "tests/support/Fakes.h"

namespace zelt {
namespace {

using fake::ReplyText;
using fake::Topic;

// Applies a reply text; what it reported, in order.
std::vector<std::string> Apply(TTopics& t, const std::string& text, int32_t maxTopics = 30, TOwnPosts own = {}) {
  std::vector<std::string> told;
  const auto say = [&told](const char* what) { return [&told, what] { told.push_back(what); }; };
  t.ParseReply(text, maxTopics, own,
               {say("cleared"), [&](const TItemData& i) { told.push_back("item " + i.Title); }, say("mark"),
                say("new messages"), say("new version")});
  return told;
}

TEST(Topics, ARecordBecomesAnItemWithDecodedTextsAndForumLinks) {
  TTopics t;
  const std::string text = ReplyText(false, {{"&quot;Q&quot; &amp;lt;b&gt; &#1055;&#1088;&#1080;", "topic-12", "News",
                                              "7", "&#1055;etr"}});
  EXPECT_EQ(Apply(t, text), (std::vector<std::string>{"cleared", "item \"Q\" <b> При", "new messages"}));
  const TItemData& i = *t.Items().at(0);
  const std::string forum = std::string(build::kForumSite) + "/forum/";
  EXPECT_EQ((std::vector<std::string>{i.Title, i.Author, i.KeyLink, i.OpenLink, i.Forum, i.Replies}),
            (std::vector<std::string>{"\"Q\" <b> При", "Пetr", forum + "topic-12-1", forum + "topic-12-0-17", "News", "7"}));
  EXPECT_EQ(t.LastReply(), text.substr(1)) << "kept undecoded, without the flag";
}

// A body of 0 or 1 byte stands for the last reply behind its flag; a longer
// one is inflated.
TEST(Topics, ShortBodiesStandForTheLastReply) {
  const std::string last = ReplyText(false, {{"A", "a", "F", "1", "x"}}).substr(1);
  const struct {
    std::string body, text;
    uint32_t unpacked;
  } cases[] = {{"1", "1" + last, 1}, {"0", "0" + last, 1}, {"", "0" + last, 0}, {fake::CompressedBody("1x"), "1x", 2}};
  for (const auto& k : cases) {
    const TTopicText got = TopicReplyText(k.body, last);
    EXPECT_EQ(got.Text + "|" + std::to_string(got.Unpacked), k.text + "|" + std::to_string(k.unpacked)) << k.body;
  }
}

TEST(Topics, ANewVersionIsToldOnceAndNewMessagesWhenTheUnreadCountGrows) {
  const Topic a{"A", "a", "F", "1", "x"}, b{"B", "b", "F", "1", "x"};
  const struct {
    bool newVersion;
    std::vector<Topic> topics;
    std::vector<std::string> news;
  } steps[] = {{true, {a}, {"new messages", "new version"}}, {true, {a}, {}}, {false, {a, b}, {"new messages"}},
               {true, {a}, {}}};
  TTopics t;
  for (const auto& k : steps) {
    std::vector<std::string> told = Apply(t, ReplyText(k.newVersion, k.topics));
    std::erase_if(told, [](const std::string& e) { return !e.starts_with("new "); });
    EXPECT_EQ(told, k.news) << &k - steps;
  }
}

TEST(Topics, AReadMarkHoldsTheReplyCountItWasReadAt) {
  const std::string link = ForumBaseUrl() + "t-1";
  TTopics t;
  t.MarkRead(link, "12");
  const struct {
    std::string replies;
    bool read;
    int32_t newCount;
  } cases[] = {{"15", false, 3}, {"12", true, 0}, {"10", false, -2}, {"99999999999", false, INT32_MAX - 12},
               {"-2147483648", false, INT32_MIN}};
  for (const auto& k : cases) {
    Apply(t, ReplyText(false, {{"T", "t", "F", k.replies, "x"}}));
    EXPECT_EQ(t.Items().at(0)->Read, k.read) << k.replies;
    EXPECT_EQ(t.Items().at(0)->NewCount, k.newCount) << k.replies;
  }
  // Marking it read keeps the count it shows and replaces the mark.
  t.MarkItemRead(*t.Items()[0]);
  EXPECT_TRUE(t.Items()[0]->Read);
  EXPECT_EQ(t.Items()[0]->NewCount, INT32_MIN);
  EXPECT_EQ(t.Lists().ReadMarks.Lines(), std::vector<std::string>{link + "\x11-2147483648"});
}

TEST(Topics, ReadMarksKeepTheNewest999AndReplaceInPlace) {
  TStoredLists lists;
  for (int i = 0; i < 998; ++i) lists.ReadMarks.Add("L" + std::to_string(i) + "\x11" "1");
  TTopics t;
  t.SetLists(lists);
  const TStringList& m = t.Lists().ReadMarks;
  t.MarkRead("L5", "2");
  EXPECT_EQ(m[5], "L5\x11" "2");
  t.MarkRead("new1", "1");
  EXPECT_EQ(m.Count(), 999u);
  t.MarkRead("new2", "1");  // the 1000th pushes out the oldest
  EXPECT_EQ(m.Count(), 999u);
  EXPECT_EQ(m[0], "L1\x11" "1");
}

TEST(Topics, ForumIdsAreNamedFromTheForumListAndAnUnknownOneAsksForIt) {
  const struct {
    std::string field, name;
    bool asks;
  } cases[] = {
      {"5", "News", false},  {"15", "General", false}, {"05", "Old", false},
      {"Talk", "Talk", false},  // letters: the name itself
      {"7", kForumPlaceholder, true}, {"5x", kForumPlaceholder, true}, {"99999999999", kForumPlaceholder, true},
  };
  for (const auto& k : cases) {
    TTopics t;
    t.ApplyForumList("General=15\r\nNews=5\r\nOld=05\r\n");
    Apply(t, ReplyText(false, {{"T", "t", k.field, "1", "x"}}));
    EXPECT_EQ(t.Items().at(0)->Forum, k.name) << k.field;
    EXPECT_EQ(t.NeedForumList(), k.asks) << k.field;
  }
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

// A reply larger than asked for applies at most the asked number of topics
// (and writes at most that many marks for the user's own posts); a forum
// list keeps at most 2000 lines of at most 200 bytes.
TEST(Topics, RepliesApplyNoMoreThanAskedFor) {
  for (const int records : {29, 30, 31}) {
    std::vector<Topic> topics;
    for (int i = 0; i < records; ++i) topics.push_back({"T", "t" + std::to_string(i), "Talk", "1", "me"});
    TTopics t;
    const std::vector<std::string> told = Apply(t, ReplyText(false, topics), 30, {true, "me"});
    EXPECT_EQ(t.Items().size(), static_cast<size_t>(std::min(records, 30))) << records;
    EXPECT_EQ(std::count(told.begin(), told.end(), "mark"), std::min(records, 30));
  }
  TTopics t;
  for (const size_t lines : {1999, 2000, 2001}) {
    std::string forums;
    for (size_t i = 0; i < lines; ++i) forums += "F=" + std::to_string(i) + "\r\n";
    t.ApplyForumList(forums);
    EXPECT_EQ(t.Lists().ForumNames.Count(), std::min<size_t>(lines, 2000));
  }
  const std::string line199 = std::string(197, 'x') + "=8";
  t.ApplyForumList(line199 + "\r\n" + line199 + "x\r\n" + line199 + "xx\r\n");
  EXPECT_EQ(t.Lists().ForumNames.Lines(), (std::vector<std::string>{line199, line199 + "x"}));
}

}  // namespace
}  // namespace zelt
