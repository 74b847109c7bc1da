// Texts as the program reads and shows them: inflation, sizes,
// dates and the compression figure. (The references are decoded against the
// slow literal decoders by the decode fuzzer, over its corpus.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "core/ReplyDecoding.h"
#include "core/Traffic.h"
#include "tests/support/Fakes.h"

namespace zelt {
namespace {

TEST(CoreText, InflationKeepsWhatArrivesAndStopsAtTheCap) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "topic " + std::to_string(i) + "\x11";
  const std::string body = fake::CompressedBody(text);
  std::string badTrailer = body;
  badTrailer.back() ^= 0x55;
  for (const std::string& b : {body, fake::CompressedBody(text, 9), body.substr(0, body.size() - 4), badTrailer})
    EXPECT_EQ(InflateReply(b), text);
  const std::string half = InflateReply(body.substr(0, body.size() / 2));
  EXPECT_LT(half.size(), text.size());
  EXPECT_EQ(text.compare(0, half.size(), half), 0) << "a cut body gives a prefix";
  EXPECT_EQ(InflateReply(""), "");

  // The cap is a mebibyte: a text one under, at and one over it, and a bomb.
  for (const size_t n : {1048575u, 1048576u, 1048577u, 5u << 20})
    EXPECT_EQ(InflateReply(fake::CompressedBody(std::string(n, 'a'), 9)).size(), std::min<size_t>(n, 1048576)) << n;
  const std::string bomb = fake::CompressedBody(std::string(5u << 20, 'a'), 9);
  ASSERT_LT(bomb.size(), 64u * 1024);
  EXPECT_EQ(InflateReply(bomb, 1000), std::string(1000, 'a'));
}

TEST(CoreText, SizesInUnitsWithHalvesToTheEvenNeighbour) {
  const struct {
    uint32_t bytes;
    int32_t decimals;
    const char* text;
  } cases[] = {
      {0, 1, "0 B"},           {1023, 1, "1023 B"},      {1024, 1, "1 KB"},         {1536, 1, "1.5 KB"},
      {1048575, 1, "1024 KB"}, {1048576, 1, "1 MB"},     {1073741824, 1, "1 GB"},   {4294967295u, 1, "4 GB"},
      {1100, 2, "1.07 KB"},    {1280, 1, "1.2 KB"},      {1792, 1, "1.8 KB"},       {2560, 0, "2 KB"},
      {3584, 0, "4 KB"},       {5000000, 2, "4.77 MB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.bytes, c.decimals), c.text) << c.bytes << "/" << c.decimals;
}

TEST(CoreText, DateTimesCountDaysFromTheYearOne) {
  const std::pair<TCivilTime, double> cases[] = {
      {{1, 1, 1}, 1.0},           {{1899, 12, 30}, 693594.0},       {{2000, 1, 1, 12}, 730120.5},
      {{1900, 3, 1}, 693655.0},   {{2000, 3, 1}, 730180.0},        {{9999, 12, 31}, 3652059.0},
      {{2026, 12, 5, 21, 6}, 739955.0 + (21 * 60 + 6) / 1440.0},
  };
  for (const auto& [t, value] : cases) EXPECT_DOUBLE_EQ(EncodeDateTime(t), value) << t.Year;
  // The last millisecond of a day comes back.
  TCivilTime back;
  ASSERT_TRUE(DecodeDateTime(EncodeDateTime({2026, 12, 5, 23, 59, 59, 999}), back));
  EXPECT_EQ(back.Millisecond, 999);
  EXPECT_EQ(FormatStamp(EncodeDateTime({2026, 12, 5, 21, 6, 59})), "05-12-2026, 21:06");
  EXPECT_EQ(FormatStamp(3652059.999), "31-12-9999, 23:58");
  for (double bad : {0.99, -5.0, 3652060.0, std::numeric_limits<double>::quiet_NaN()})
    EXPECT_EQ(FormatStamp(bad), "") << bad;
}

TEST(CoreText, CompressionIsTheShareSaved) {
  const struct {
    uint32_t in, unpacked;
    const char* text;
  } cases[] = {{2000, 10000, "80%"}, {0, 0, "0%"}, {0, 500, "0%"}, {1, 3, "67%"}, {3000, 1000, "-200%"},
               {4294967295u, 1, "-429496729400%"}};
  for (const auto& c : cases) EXPECT_EQ(CompressionText(c.in, c.unpacked), c.text) << c.in << "/" << c.unpacked;
}

}  // namespace
}  // namespace zelt
