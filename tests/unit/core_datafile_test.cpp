// data.dat as bytes: the layout of a known state, round trips, the
// scrambled password and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/DataFile.h"
#include "core/Settings.h"

namespace zelt {
namespace {

using namespace std::string_literals;

std::string Hex(const char* hex) {
  std::string out;
  for (const char* p = hex; *p; ++p)
    if (*p != ' ') out += static_cast<char>(std::stoi(std::string(p++, 2), nullptr, 16));
  return out;
}

TStringList Lines(std::vector<std::string> lines) {
  TStringList l;
  for (auto& s : lines) l.Add(s);
  return l;
}

// A state in which every field differs from its reset value, and its file
// written out by hand.
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
  d.TrafficSince = 739955.5;
  d.IntervalMs = 300000;
  d.TopicCount = -3;
  d.IgnoreOwnPosts = true;
  d.ShowOnNew = true;
  d.UseIESettings = true;
  d.Reserved61 = 0x7F;
  d.ProxyPort = 8080;
  d.ProxyServer = "proxy";
  d.UserName = "u";
  d.Password = "abcdefghijklmnopqrstu";
  d.Nick = "Ivan";
  d.SoundNewMessages = "C:\\s.ogg";
  d.SoundNewVersion = "v.wav";
  d.SoundError = "e.mp3";
  d.Favorites = Lines({"T\x11" "F\x11L\x11"});
  d.ForumNames = Lines({"General=15", "News=5"});
  d.ReadMarks = Lines({"L-1\x11" "12"});
  return d;
}
std::string KnownFile() {
  return Hex("44 33 22 11  02 00 00 00  20 02 00 00  e8 03 00 00  88 13 00 00"  // last/total counters
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
}

// Per field in file order: does `a` hold the value of `b`?
std::vector<bool> SameFields(const TDataImage& a, const TDataImage& b) {
  std::vector<bool> same;
  ForEachDataField(a, b, [&](const auto& x, const auto& y) {
    if constexpr (std::is_same_v<std::decay_t<decltype(x)>, TStringList>)
      same.push_back(x.Lines() == y.Lines());
    else if constexpr (std::is_same_v<std::decay_t<decltype(x)>, double>)
      same.push_back(std::memcmp(&x, &y, sizeof x) == 0);
    else
      same.push_back(x == y);
  });
  return same;
}
size_t FirstDifferent(const std::vector<bool>& v) { return std::find(v.begin(), v.end(), false) - v.begin(); }

// The known state has the known bytes; it and odd values read back.
TEST(CoreDataFile, AKnownStateHasTheseBytesAndOddValuesRoundTrip) {
  EXPECT_EQ(SerializeDataImage(KnownState()), KnownFile());
  TDataImage odd = KnownState();
  odd.TrafficSince = -0.0;
  odd.IntervalMs = INT32_MIN;
  odd.ProxyPort = 0xFFFF;
  odd.Password = "\0x\0"s;
  odd.Nick = std::string(70000, '\xFF');
  odd.Favorites = Lines({"", "a\nb", std::string(1, '\0')});
  odd.ReadMarks = Lines(std::vector<std::string>(999, "http://h/forum/t-1\x11" "5"));
  for (const TDataImage& s : {KnownState(), odd, TDataImage{}}) {
    TDataImage back;
    ASSERT_TRUE(ParseDataImage(SerializeDataImage(s), back));
    const auto same = SameFields(back, s);
    EXPECT_EQ(FirstDifferent(same), same.size());
  }
}

// Cut anywhere: the fields before the cut are read, the others keep their
// values, and nothing is read past the end; but a list the cut falls in keeps
// the lines that end before it (the forum names' first line, whose CR is in,
// at eight cuts: from that CR to the second line's CR).
TEST(CoreDataFile, ACutFileGivesTheFieldsBeforeTheCut) {
  const std::string file = KnownFile();
  size_t last = 0, firstLineOnly = 0;
  for (size_t cut = 0; cut < file.size(); ++cut) {
    TDataImage d;
    EXPECT_FALSE(ParseDataImage(file.substr(0, cut), d)) << cut;
    const size_t read = FirstDifferent(SameFields(d, KnownState()));
    const auto reset = SameFields(d, TDataImage{});
    const bool partial = d.ForumNames.Lines() == std::vector<std::string>{"General=15"};
    firstLineOnly += partial;
    EXPECT_EQ(std::count(reset.begin() + static_cast<long>(read), reset.end(), false), partial ? 1 : 0) << cut;
    EXPECT_GE(read, last);
    last = read;
  }
  EXPECT_EQ(firstLineOnly, 8u);
  TDataImage d;
  ParseDataImage(file.substr(0, 62), d);  // the block's fields one by one: all but the port
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
    EXPECT_EQ(d.TopicCount, -3);
    EXPECT_EQ(d.ProxyServer, "kept");
    EXPECT_TRUE(d.ReadMarks.Empty());
  }
  std::string file = KnownFile();
  file.replace(file.size() - 12, 4, Hex("09 00 00 00"));  // one byte more than there is: the whole line is in
  TDataImage d;
  EXPECT_FALSE(ParseDataImage(file, d));
  EXPECT_EQ(d.ForumNames.Count(), 2u);
  EXPECT_EQ(d.ReadMarks.Lines(), std::vector<std::string>{"L-1\x11" "12"});
}

TEST(CoreDataFile, FlagsReadAnyByteAndListsTakeAnyLineEnd) {
  std::string file = SerializeDataImage(TDataImage{});
  file[56] = 2;  // IgnoreOwnPosts
  file.replace(file.size() - 4, 4, Hex("06 00 00 00") + "a\rb\r\nc");
  TDataImage d;
  d.Favorites = Lines({"kept"});  // a list of length 0 keeps what it had
  ASSERT_TRUE(ParseDataImage(file, d));
  EXPECT_TRUE(d.IgnoreOwnPosts);
  EXPECT_EQ(SerializeDataImage(d)[56], 1);
  EXPECT_EQ(d.Favorites.Lines(), std::vector<std::string>{"kept"});
  EXPECT_EQ(d.ReadMarks.Lines(), (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
}  // namespace zelt
