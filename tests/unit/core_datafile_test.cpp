// data.dat as bytes: the layout, round trips, the scrambled password and
// damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/DataFile.h"
#include "core/Settings.h"

namespace zelt {
namespace {

using namespace std::string_literals;

std::string Hex(const char* hex) {
  std::string out;
  for (const char* p = hex; *p;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
    p += 2;
  }
  return out;
}

TStringList Lines(std::vector<std::string> lines) {
  TStringList l;
  for (auto& s : lines) l.Add(s);
  return l;
}

// A state in which every field differs from its reset value.
TDataImage KnownState() {
  TDataImage d;
  d.LastInBytes = 0x11223344;
  d.LastInUnpacked = 2;
  d.LastOutBytes = 544;
  d.TotalInBytes = 1000;
  d.TotalInUnpacked = 5000;
  d.TotalOutBytes = 0xFFFFFFFF;
  d.UpdateInBytes = 7;
  d.UpdateOutBytes = 8;
  d.UpdateTotalBytes = 9;
  d.Reserved36 = 0xA5A5A5A5;
  d.TrafficSince = 739955.5;  // 05-12-2026, 12:00
  d.IntervalMs = 300000;
  d.TopicCount = -3;
  d.IgnoreOwnPosts = true;
  d.AutoStart = true;
  d.ShowOnNew = true;
  d.UseSounds = true;
  d.UseIESettings = true;
  d.Reserved61 = 0x7F;
  d.ProxyPort = 8080;
  d.ProxyServer = "proxy";
  d.UserName = "u";
  d.Password = "abc";
  d.Nick = "Ivan";
  d.SoundNewMessages = "C:\\s.ogg";
  d.SoundNewVersion = "v.wav";
  d.SoundError = "e.mp3";
  d.Favorites = Lines({"T\x11" "F\x11L\x11"});
  d.ForumNames = Lines({"General=15", "News=5"});
  d.ReadMarks = Lines({"L-1\x11" "12"});
  return d;
}

// The file of KnownState, written out by hand.
std::string KnownFile() {
  return Hex("44 33 22 11  02 00 00 00  20 02 00 00  e8 03 00 00  88 13 00 00"  // last/total counters
             "ff ff ff ff  07 00 00 00  08 00 00 00  09 00 00 00  a5 a5 a5 a5"  // ... update, reserved
             "00 00 00 00 e7 94 26 41"                                        // TrafficSince
             "e0 93 04 00  fd ff ff ff"                                       // interval, topics
             "01 01 01 01 01  7f  90 1f") +                                   // flags, reserved, port
         Hex("05 00 00 00") + "proxy" + Hex("01 00 00 00") + "u" +
         Hex("03 00 00 00") + "TZP" +  // "abc" scrambled with "583"
         Hex("04 00 00 00") + "Ivan" + Hex("08 00 00 00") + "C:\\s.ogg" + Hex("05 00 00 00") + "v.wav" +
         Hex("05 00 00 00") + "e.mp3" +
         Hex("08 00 00 00") + "T\x11" "F\x11L\x11\r\n" +
         Hex("14 00 00 00") + "General=15\r\nNews=5\r\n" +
         Hex("08 00 00 00") + "L-1\x11" "12\r\n";
}

// Per field (file order): does `a` hold the same value as `b`?
std::vector<bool> SameFields(const TDataImage& a, const TDataImage& b) {
  std::vector<bool> same;
  auto eq = [&](const auto& x, const auto& y) {
    if constexpr (std::is_same_v<std::decay_t<decltype(x)>, TStringList>)
      same.push_back(x.Lines() == y.Lines());
    else if constexpr (std::is_same_v<std::decay_t<decltype(x)>, double>)
      same.push_back(std::memcmp(&x, &y, sizeof x) == 0);
    else
      same.push_back(x == y);
  };
  ForEachDataField(a, b, eq);
  return same;
}

bool AllTrue(const std::vector<bool>& v) { return std::find(v.begin(), v.end(), false) == v.end(); }

TEST(CoreDataFile, GoldenBytesOfAKnownState) {
  EXPECT_EQ(SerializeDataImage(KnownState()), KnownFile());
  TDataImage read;
  ASSERT_TRUE(ParseDataImage(KnownFile(), read));
  EXPECT_TRUE(AllTrue(SameFields(read, KnownState())));
}

TEST(CoreDataFile, EmptyStateIsTheBlockAndTenZeroLengths) {
  const std::string bytes = SerializeDataImage(TDataImage{});
  EXPECT_EQ(bytes, std::string(kSettingsBlockSize + 10 * 4, '\0'));
}

TEST(CoreDataFile, EveryFieldRoundTrips) {
  std::vector<TDataImage> states = {KnownState(), TDataImage{}};
  TDataImage odd = KnownState();
  odd.TrafficSince = -0.0;
  odd.IntervalMs = INT32_MIN;
  odd.ProxyPort = 0xFFFF;
  odd.Password = "\0x\0"s;
  odd.Nick = std::string(70000, '\xFF');
  odd.Favorites = Lines({"", "a\nb", std::string(1, '\0')});
  odd.ReadMarks = Lines(std::vector<std::string>(999, "http://h/forum/t-1\x11" "5"));
  states.push_back(odd);
  for (const TDataImage& s : states) {
    TDataImage back;
    ASSERT_TRUE(ParseDataImage(SerializeDataImage(s), back));
    const auto same = SameFields(back, s);
    for (size_t i = 0; i < same.size(); ++i) EXPECT_TRUE(same[i]) << "field " << i;
  }
}

TEST(CoreDataFile, PasswordOfTwentyFiveCharacters) {
  TDataImage d;
  d.Password = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  const std::string bytes = SerializeDataImage(d);
  const size_t at = kSettingsBlockSize + 4 + 4 + 4;  // after two empty strings and the length
  ASSERT_EQ(bytes.substr(at - 4, 4), Hex("19 00 00 00"));
  EXPECT_EQ(bytes[at + 9], 'J' ^ '2');    // 10th byte: 10th key character
  EXPECT_EQ(bytes[at + 10], 'K' ^ '5');   // 11th byte: 1st key character
  EXPECT_EQ(bytes[at + 19], 'T');         // 20th byte: unchanged
  EXPECT_EQ(bytes[at + 20], 'U' ^ '5');   // 21st: 1st key character again
  EXPECT_EQ(bytes[at + 24], 'Y' ^ '9');   // 25th: 5th key character
  TDataImage back;
  ASSERT_TRUE(ParseDataImage(bytes, back));
  EXPECT_EQ(back.Password, d.Password);
  EXPECT_EQ(ScramblePassword(ScramblePassword("any\0bytes\xFF"s)), "any\0bytes\xFF"s);
}

TEST(CoreDataFile, EmptyPasswordIsTheLengthAlone) {
  TDataImage d;
  d.UserName = "user";
  const std::string bytes = SerializeDataImage(d);
  EXPECT_EQ(bytes.substr(kSettingsBlockSize + 12, 8), Hex("00 00 00 00  00 00 00 00"));  // password, nick
}

// Cut anywhere: the fields before the cut are read, the rest keep their reset
// values, and nothing is read past the end.
TEST(CoreDataFile, TruncatedFilesStopWhereTheBytesEnd) {
  const std::string file = KnownFile();
  size_t lastCount = 0;
  for (size_t cut = 0; cut < file.size(); ++cut) {
    const std::string part = file.substr(0, cut);
    TDataImage d;
    EXPECT_FALSE(ParseDataImage(part, d)) << cut;
    const auto same = SameFields(d, KnownState());
    const auto firstDiff = std::find(same.begin(), same.end(), false);
    EXPECT_TRUE(std::find(firstDiff, same.end(), true) == same.end()) << "a field after the cut was read, cut " << cut;
    const auto reset = SameFields(d, TDataImage{});
    for (size_t i = static_cast<size_t>(firstDiff - same.begin()); i < reset.size(); ++i)
      EXPECT_TRUE(reset[i]) << "field " << i << " changed, cut " << cut;
    const size_t count = static_cast<size_t>(firstDiff - same.begin());
    EXPECT_GE(count, lastCount);
    lastCount = count;
  }
  // The block's fields are read one by one: a file of 62 bytes gives all but the port.
  TDataImage d;
  ParseDataImage(file.substr(0, 62), d);
  EXPECT_EQ(d.Reserved61, 0x7F);
  EXPECT_EQ(d.ProxyPort, 0);
}

TEST(CoreDataFile, LengthsBeyondTheFileAreNotTrusted) {
  for (const char* length : {"ff ff ff 7f", "00 10 00 00", "ff ff ff ff", "00 00 00 80"}) {
    std::string file = KnownFile();
    file.replace(kSettingsBlockSize, 4, Hex(length));  // ProxyServer's length
    TDataImage d;
    d.ProxyServer = "kept";
    EXPECT_FALSE(ParseDataImage(file, d));
    EXPECT_EQ(d.TopicCount, -3);  // the block was read
    EXPECT_EQ(d.ProxyServer, "kept");
    EXPECT_EQ(d.UserName, "");
    EXPECT_TRUE(d.ReadMarks.Empty());
  }
  // The last list claims one byte more than there is.
  std::string file = KnownFile();
  file.replace(file.size() - 12, 4, Hex("09 00 00 00"));
  TDataImage d;
  EXPECT_FALSE(ParseDataImage(file, d));
  EXPECT_EQ(d.ForumNames.Count(), 2u);
  EXPECT_TRUE(d.ReadMarks.Empty());
}

TEST(CoreDataFile, ListsOfLengthZeroKeepTheirContentAndFlagsReadAnyByte) {
  std::string file = SerializeDataImage(TDataImage{});
  file[56] = 2;  // IgnoreOwnPosts as any non-zero byte
  TDataImage d;
  d.Favorites = Lines({"kept"});
  ASSERT_TRUE(ParseDataImage(file, d));
  EXPECT_EQ(d.Favorites.Lines(), std::vector<std::string>{"kept"});
  EXPECT_TRUE(d.IgnoreOwnPosts);
  EXPECT_EQ(SerializeDataImage(d)[56], 1);
}

TEST(CoreDataFile, ListTextWithBareCarriageReturnsAndNoFinalLineEnd) {
  TDataImage d = KnownState();
  std::string file = SerializeDataImage(TDataImage{});
  const std::string list = "a\rb\r\nc";
  file.replace(file.size() - 4, 4, Hex("06 00 00 00") + list);
  ASSERT_TRUE(ParseDataImage(file, d));
  EXPECT_EQ(d.ReadMarks.Lines(), (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
}  // namespace zelt
