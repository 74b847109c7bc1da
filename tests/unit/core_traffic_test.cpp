// Traffic figures as shown: sizes, stamps, the date-time double, compression.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/Traffic.h"

namespace zelt {
namespace {

TEST(CoreFormatSize, UnitsRoundingAndHalves) {
  const struct {
    uint32_t bytes;
    int32_t decimals;
    const char* text;
  } cases[] = {
      {0, 1, "0 B"},
      {1023, 1, "1023 B"},
      {1024, 1, "1 KB"},
      {1536, 1, "1.5 KB"},
      {1048575, 1, "1024 KB"},  // rounds up within KB, never switches to MB
      {1048576, 1, "1 MB"},
      {1073741823, 1, "1024 MB"},
      {1073741824, 1, "1 GB"},
      {4294967295u, 1, "4 GB"},
      {1100, 2, "1.07 KB"},
      {1100, 1, "1.1 KB"},
      {1280, 1, "1.2 KB"},  // 12.5 tenths: the even neighbour
      {1792, 1, "1.8 KB"},  // 17.5 tenths: the even neighbour
      {1536, 0, "2 KB"},    // 1.5
      {2560, 0, "2 KB"},    // 2.5
      {2621440, 0, "2 MB"}, // 2.5
      {3584, 0, "4 KB"},    // 3.5
      {5000000, 2, "4.77 MB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.bytes, c.decimals), c.text) << c.bytes << "/" << c.decimals;
}

TEST(CoreDateTime, KnownDates) {
  const struct {
    TCivilTime t;
    double value;
  } cases[] = {
      {{1, 1, 1}, 1.0},
      {{1899, 12, 30}, 693594.0},
      {{1970, 1, 1}, 719163.0},
      {{2000, 1, 1, 12}, 730120.5},
      {{1600, 2, 29, 6}, 584082.25},
      {{1900, 3, 1}, 693655.0},  // 1900 is no leap year
      {{2000, 3, 1}, 730180.0},  // 2000 is
      {{2026, 12, 5, 21, 6}, 739955.0 + (21 * 60 + 6) / 1440.0},
      {{9999, 12, 31}, 3652059.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.t), c.value) << c.t.Year << "-" << c.t.Month << "-" << c.t.Day;
    TCivilTime back;
    ASSERT_TRUE(DecodeDateTime(c.value, back));
    EXPECT_EQ(back.Year, c.t.Year);
    EXPECT_EQ(back.Month, c.t.Month);
    EXPECT_EQ(back.Day, c.t.Day);
    EXPECT_EQ(back.Hour, c.t.Hour);
    EXPECT_EQ(back.Minute, c.t.Minute);
  }
}

TEST(CoreDateTime, EveryDayAndMillisecondSurvivesTheRoundTrip) {
  TCivilTime prev;
  ASSERT_TRUE(DecodeDateTime(584000.0, prev));
  for (int day = 584001; day < 800000; ++day) {
    TCivilTime t;
    ASSERT_TRUE(DecodeDateTime(day + 0.75, t));
    ASSERT_EQ(EncodeDateTime(t), day + 0.75);
    // Consecutive days: the same month one day later, or the 1st of the next.
    const bool sameMonth = t.Year == prev.Year && t.Month == prev.Month && t.Day == prev.Day + 1;
    const bool nextMonth = t.Day == 1 && (t.Month == prev.Month + 1 || (t.Month == 1 && prev.Month == 12));
    ASSERT_TRUE(sameMonth || nextMonth) << day;
    prev = t;
  }
  TCivilTime t{2026, 12, 5, 23, 59, 59, 999};
  TCivilTime back;
  ASSERT_TRUE(DecodeDateTime(EncodeDateTime(t), back));
  EXPECT_EQ(back.Second, 59);
  EXPECT_EQ(back.Millisecond, 999);
  EXPECT_EQ(back.Day, 5);
}

TEST(CoreFormatStamp, PictureAndOutOfRange) {
  EXPECT_EQ(FormatStamp(EncodeDateTime({2026, 12, 5, 21, 6, 59})), "05-12-2026, 21:06");
  EXPECT_EQ(FormatStamp(EncodeDateTime({2001, 1, 9, 0, 0})), "09-01-2001, 00:00");
  EXPECT_EQ(FormatStamp(1.0), "01-01-0001, 00:00");
  EXPECT_EQ(FormatStamp(3652059.999), "31-12-9999, 23:58");
  for (double bad : {0.0, 0.99, -5.0, 3652060.0, 1e300, std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()})
    EXPECT_EQ(FormatStamp(bad), "") << bad;
}

TEST(CoreCompression, Percentages) {
  const struct {
    uint32_t in, unpacked;
    const char* text;
  } cases[] = {
      {2000, 10000, "80%"},
      {0, 0, "0%"},        // nothing counted yet
      {0, 500, "0%"},      // p = 0 becomes 100
      {10000, 10000, "0%"},
      {1, 3, "67%"},       // 33.3 truncated
      {3000, 1000, "-200%"},
      {4294967295u, 1, "-429496729400%"},  // far beyond int32, still exact
  };
  for (const auto& c : cases) EXPECT_EQ(CompressionText(c.in, c.unpacked), c.text) << c.in << "/" << c.unpacked;
}

}  // namespace
}  // namespace zelt
