// data.dat as bytes (the layout of a known state with its scrambled password,
// a cut file) and what it keeps: the settings as loaded, the lists an older
// version left. (Round trips of any bytes are the data file fuzzer's.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/DataFile.h"
#include "core/ReplyDecoding.h"
#include "core/Topics.h"

namespace zelt {
namespace {

std::string Hex(const char* hex) {
  std::string out;
  for (const char* p = hex; *p; ++p)
    if (*p != ' ') out += static_cast<char>(std::stoi(std::string(p++, 2), nullptr, 16));
  return out;
}

// The known state has the known bytes. A file cut right after a string
// still gives that string; cut inside a list, it keeps that list's lines
// that end before the cut, and the later fields their values.
TEST(CoreDataFile, AKnownStateHasTheseBytesAndACutFileKeepsWhatEndsBeforeTheCut) {
  // A state in which every field differs from its reset value, and its file
  // written out by hand.
  TDataImage known{
      TTrafficCounters{.LastInBytes = 0x11223344, .LastInUnpacked = 2, .LastOutBytes = 544, .TotalInBytes = 1000,
                       .TotalInUnpacked = 5000, .TotalOutBytes = 0xFFFFFFFF, .UpdateInBytes = 7, .UpdateOutBytes = 8,
                       .UpdateTotalBytes = 9, .Reserved36 = 0xA5A5A5A5, .TrafficSince = 739955.5},
      TSettings{.IntervalMs = 300000, .TopicCount = -3, .IgnoreOwnPosts = true, .ShowOnNew = true,
                .UseIESettings = true, .Reserved61 = 0x7F, .ProxyPort = 8080, .ProxyServer = "proxy", .UserName = "u",
                .Password = "abcdefghijklmnopqrstu", .Nick = "Ivan", .SoundNewMessages = "C:\\s.ogg",
                .SoundNewVersion = "v.wav", .SoundError = "e.mp3"}};
  for (const char* line : {"General=15", "News=5"}) known.ForumNames.Add(line);
  known.Favorites.Add("T\x11" "F\x11L\x11");
  known.ReadMarks.Add("L-1\x11" "12");
  const std::string file =
      Hex("44 33 22 11  02 00 00 00  20 02 00 00  e8 03 00 00  88 13 00 00"  // last/total counters
          "ff ff ff ff  07 00 00 00  08 00 00 00  09 00 00 00  a5 a5 a5 a5"  // ... update, reserved
          "00 00 00 00 e7 94 26 41"                                        // TrafficSince
          "e0 93 04 00  fd ff ff ff"                                       // interval, topics
          "01 00 01 00 01  7f  90 1f") +                                   // flags, reserved, port
      Hex("05 00 00 00") + "proxy" + Hex("01 00 00 00") + "u" +
      // The password scrambled: the key over each ten bytes, but every tenth from the twentieth kept.
      Hex("15 00 00 00  54 5a 50 1a 5c 57 51 03 3b 58  5e 54 5e 10 56 41 47 19 21 74  40") +
      Hex("04 00 00 00") + "Ivan" + Hex("08 00 00 00") + "C:\\s.ogg" + Hex("05 00 00 00") + "v.wav" +
      Hex("05 00 00 00") + "e.mp3" + Hex("08 00 00 00") + "T\x11" "F\x11L\x11\r\n" + Hex("14 00 00 00") +
      "General=15\r\nNews=5\r\n" + Hex("08 00 00 00") + "L-1\x11" "12\r\n";
  EXPECT_EQ(SerializeDataImage(known), file);
  TDataImage atString, inList;
  EXPECT_FALSE(ParseDataImage(file.substr(0, file.find("proxy") + 5), atString));
  EXPECT_EQ(atString.ProxyServer, "proxy");
  EXPECT_FALSE(ParseDataImage(file.substr(0, file.find("News=5") + 3), inList));
  EXPECT_EQ(inList.Nick, "Ivan");
  EXPECT_EQ(inList.ForumNames.Lines(), std::vector<std::string>{"General=15"});
  EXPECT_TRUE(inList.ReadMarks.Empty());
}

// A stored 0 takes its default; the interval and the topic count come into
// the ranges the settings window allows, as it would correct them.
TEST(CoreSettings, LoadedValuesComeIntoRange) {
  const struct {
    int32_t interval, topics, intervalAfter, topicsAfter;
  } cases[] = {{0, 0, 300000, 10},          {59999, 1, 60000, 1},          {60000, 30, 60000, 30},
               {3600000, 31, 3600000, 30}, {3600001, -1, 3600000, 1},      {INT32_MIN, INT32_MAX, 60000, 30}};
  for (const auto& k : cases) {
    TSettings s{.IntervalMs = k.interval, .TopicCount = k.topics};
    BringIntoRange(s);
    EXPECT_EQ(std::pair(s.IntervalMs, s.TopicCount), std::pair(k.intervalAfter, k.topicsAfter)) << k.interval;
  }
}

// An older data.dat holds whatever that version stored from the server: each
// entry is kept when this version could have stored it (fields within the
// caps of the reply fields they came from, no line break or NUL; forum names
// as a forum list gives them), and each list keeps at most its cap: the
// newest 999 read marks, the first 999 favourites and 2000 forum names
// (those counts as the topics keep them). Each list: one entry at the caps,
// one over them, ones with a line break, too many fields or junk after them.
TEST(CoreDataFile, AnOlderFilesListsKeepWhatThisVersionCouldHaveStored) {
  const std::string base = ForumBaseUrl(), s = "\x11", mark = base + std::string(512, 'k') + "-1" + s + "12345678901";
  const std::string favorite =
      std::string(512, 't') + s + std::string(200, 'f') + s + base + std::string(512, 'o') + "-0-17" + s;
  TStoredLists lists;
  for (const std::string& m : {mark, "k" + mark, "x" + s + "123456789012", "a\nb" + s + "1", "x" + s + "1" + s + "2"})
    lists.ReadMarks.Add(m);
  for (const std::string& f : {favorite, "t" + favorite, "T" + s + "F" + s + "L" + s + "x"}) lists.Favorites.Add(f);
  lists.ForumNames.Add("n=" + std::string(199, '1'));
  lists.ForumNames.Add("L\nF" + s + "=2");
  BoundStoredLists(lists, base.size());
  EXPECT_EQ(lists.ReadMarks.Lines(), std::vector<std::string>{mark});
  EXPECT_EQ(lists.Favorites.Lines(), std::vector<std::string>{favorite});
  EXPECT_EQ(lists.ForumNames.Lines(), std::vector<std::string>{"LF=2"});
}

}  // namespace
}  // namespace zelt
