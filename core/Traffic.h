// The traffic counters (the first part of data.dat's settings block), byte
// counts and date-times as the program shows them, and the date-time double:
// days counted so that 1 January of the year 1 at 00:00 is 1.0, the time of
// day as the fraction.
#pragma once

#include <cstdint>
#include <string>

namespace zelt {

// Estimated size of one request, counted for every request sent.
inline constexpr uint32_t kRequestBytes = 544;

// The counters are unsigned 32-bit and wrap silently.
struct TTrafficCounters {
  uint32_t LastInBytes = 0;
  uint32_t LastInUnpacked = 0;
  uint32_t LastOutBytes = 0;
  uint32_t TotalInBytes = 0;
  uint32_t TotalInUnpacked = 0;
  uint32_t TotalOutBytes = 0;
  uint32_t UpdateInBytes = 0;
  uint32_t UpdateOutBytes = 0;
  uint32_t UpdateTotalBytes = 0;
  uint32_t Reserved36 = 0;
  double TrafficSince = 0;

  // An informer request sent, whatever becomes of it.
  void CountRequest();
  // An informer reply: `bytes` as received, giving `unpacked` bytes of text.
  void CountReply(uint32_t bytes, uint32_t unpacked);
  // An update file (description or package) of `received` bytes.
  void CountUpdate(uint32_t received);
  // Every counter and the reserved word to 0, counting from `now`.
  void Reset(double now);
};

// "1.5 KB": bytes below 1024 as " B", then KB, MB, GB rounded to `decimals`
// places (halves to the even neighbour), "." as the separator, no trailing
// zeros, no point when nothing follows it.
std::string FormatSize(uint32_t bytes, int32_t decimals);

// "dd-MM-yyyy, HH:mm", e.g. "05-12-2026, 21:06". Empty for a value outside
// the years 1 to 9999 (or not a number).
std::string FormatStamp(double dateTime);

// The compression row of the traffic window: 100 minus the received bytes as
// a percentage of the text they gave, e.g. "80%"; "0%" before any traffic.
std::string CompressionText(uint32_t totalInBytes, uint32_t totalInUnpacked);

struct TCivilTime {
  int Year = 1, Month = 1, Day = 1;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// The date-time double of a Gregorian date and time of day.
double EncodeDateTime(const TCivilTime& t);
// Back to the date and time of day (to the millisecond); false outside the
// years 1 to 9999.
bool DecodeDateTime(double dateTime, TCivilTime& t);

}  // namespace zelt
