#include "core/Traffic.h"

#include <charconv>
#include <cmath>
#include <cstdio>


namespace zelt {

namespace {

// 15 significant digits at most, shortest form, "." always.
std::string FormatNumber(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

// Days from 1 January of the year 1 (day 0) to the given Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  // era/doe count from 1 March of the year 0; 1 January of the year 1 is day 306.
  return era * 146097 + doe - 306;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  const int64_t z = days + 306;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

constexpr int64_t kMsPerDay = 86400000;

}  // namespace

std::string FormatSize(uint32_t bytes, int32_t decimals) {
  static constexpr struct {
    double unit;
    const char* suffix;
  } kUnits[] = {{1024.0, " KB"}, {1048576.0, " MB"}, {1073741824.0, " GB"}};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  const int idx = bytes < 1048576u ? 0 : bytes < 1073741824u ? 1 : 2;
  const double f = std::pow(10.0, decimals);
  // nearbyint rounds halves to the even neighbour in the default rounding mode.
  const double v = std::nearbyint(bytes / kUnits[idx].unit * f) / f;
  return FormatNumber(v) + kUnits[idx].suffix;
}

double EncodeDateTime(const TCivilTime& t) {
  const int64_t ms = ((int64_t{t.Hour} * 60 + t.Minute) * 60 + t.Second) * 1000 + t.Millisecond;
  return static_cast<double>(DaysFromCivil(t.Year, t.Month, t.Day) + 1) + static_cast<double>(ms) / kMsPerDay;
}

bool DecodeDateTime(double dateTime, TCivilTime& t) {
  // 1.0 is 0001-01-01; 3652060.0 is 10000-01-01.
  if (!(dateTime >= 1.0 && dateTime < 3652060.0)) return false;
  const int64_t total = std::llround((dateTime - 1.0) * kMsPerDay);
  const int64_t days = total / kMsPerDay;
  int64_t ms = total % kMsPerDay;
  CivilFromDays(days, t.Year, t.Month, t.Day);
  if (t.Year > 9999) return false;
  t.Hour = static_cast<int>(ms / 3600000);
  ms %= 3600000;
  t.Minute = static_cast<int>(ms / 60000);
  ms %= 60000;
  t.Second = static_cast<int>(ms / 1000);
  t.Millisecond = static_cast<int>(ms % 1000);
  return true;
}

std::string FormatStamp(double dateTime) {
  TCivilTime t;
  if (!DecodeDateTime(dateTime, t)) return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d-%02d-%04d, %02d:%02d", t.Day, t.Month, t.Year, t.Hour, t.Minute);
  return buf;
}

std::string CompressionText(uint32_t totalInBytes, uint32_t totalInUnpacked) {
  int64_t p = 0;
  if (totalInUnpacked != 0)
    p = static_cast<int64_t>(static_cast<double>(totalInBytes) / (static_cast<double>(totalInUnpacked) / 100.0));
  if (p == 0) p = 100;
  return std::to_string(100 - p) + "%";
}

void TTrafficCounters::CountRequest() {
  TotalOutBytes += kRequestBytes;
  LastOutBytes = kRequestBytes;
}

void TTrafficCounters::CountReply(uint32_t bytes, uint32_t unpacked) {
  LastInBytes = bytes;
  LastInUnpacked = unpacked;
  TotalInBytes += bytes;
  TotalInUnpacked += unpacked;
}

void TTrafficCounters::CountUpdate(uint32_t received) {
  UpdateInBytes += received;
  UpdateOutBytes += kRequestBytes;
  UpdateTotalBytes += received + kRequestBytes;
}

void TTrafficCounters::Reset(double now) {
  *this = {};
  TrafficSince = now;
}

}  // namespace zelt
