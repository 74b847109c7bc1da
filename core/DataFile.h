// data.dat: the settings block, the seven text settings and the three lists,
// as pure functions over bytes, and the copy between the file's image and the
// checker. All integers are little-endian; a string is an int32 byte length
// and its bytes; a list is its text with CR LF after every line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/ProductNames.h"
#include "core/StringList.h"

namespace zelt {

inline constexpr size_t kSettingsBlockSize = 64;

// The most entries the stored lists keep: a new read mark beyond this pushes
// out the oldest one, a favourite beyond it is not added (the forum list has
// its own cap, kMaxForumLines). With the field caps of a reply (ReplyDecoding.h)
// and a forum base URL of B bytes, a read mark line is at most B + 528 bytes
// and a favourite line B + 1234, so data.dat's lists stay under 2.3 MB for a
// B of 29 (the development build's): 0.56 MB of read marks, 1.26 MB of
// favourites, 0.40 MB of forum names. What a server alone can make the
// program keep (read marks and forum names) is under 1 MB.
inline constexpr size_t kMaxReadMarks = 999;
inline constexpr size_t kMaxFavorites = 999;

// The settings block (traffic counters, then numeric settings and flags) and
// the text settings, in file order. The checker carries them as its own
// fields; the password is plain text here, data.dat holds it scrambled.
struct TStoredSettings {
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
  int32_t IntervalMs = 0;
  int32_t TopicCount = 0;
  bool IgnoreOwnPosts = false;
  bool AutoStart = false;
  bool ShowOnNew = false;
  bool UseSounds = false;
  bool UseIESettings = false;
  uint8_t Reserved61 = 0;
  uint16_t ProxyPort = 0;
  std::string ProxyServer, UserName, Password, Nick, SoundNewMessages, SoundNewVersion, SoundError;
};

// Everything data.dat holds, in file order.
struct TDataImage : TStoredSettings {
  TStringList Favorites, ForumNames, ReadMarks;
};

// Calls f(a.X, b.X) for every field of the file, in file order. Works between
// a TDataImage and anything with the same field names (the checker).
template <class A, class B, class F>
void ForEachDataField(A& a, B& b, F&& f) {
  f(a.LastInBytes, b.LastInBytes);
  f(a.LastInUnpacked, b.LastInUnpacked);
  f(a.LastOutBytes, b.LastOutBytes);
  f(a.TotalInBytes, b.TotalInBytes);
  f(a.TotalInUnpacked, b.TotalInUnpacked);
  f(a.TotalOutBytes, b.TotalOutBytes);
  f(a.UpdateInBytes, b.UpdateInBytes);
  f(a.UpdateOutBytes, b.UpdateOutBytes);
  f(a.UpdateTotalBytes, b.UpdateTotalBytes);
  f(a.Reserved36, b.Reserved36);
  f(a.TrafficSince, b.TrafficSince);
  f(a.IntervalMs, b.IntervalMs);
  f(a.TopicCount, b.TopicCount);
  f(a.IgnoreOwnPosts, b.IgnoreOwnPosts);
  f(a.AutoStart, b.AutoStart);
  f(a.ShowOnNew, b.ShowOnNew);
  f(a.UseSounds, b.UseSounds);
  f(a.UseIESettings, b.UseIESettings);
  f(a.Reserved61, b.Reserved61);
  f(a.ProxyPort, b.ProxyPort);
  f(a.ProxyServer, b.ProxyServer);
  f(a.UserName, b.UserName);
  f(a.Password, b.Password);
  f(a.Nick, b.Nick);
  f(a.SoundNewMessages, b.SoundNewMessages);
  f(a.SoundNewVersion, b.SoundNewVersion);
  f(a.SoundError, b.SoundError);
  f(a.Favorites, b.Favorites);
  f(a.ForumNames, b.ForumNames);
  f(a.ReadMarks, b.ReadMarks);
}

// The bytes of data.dat for the image (the password scrambled).
std::string SerializeDataImage(const TDataImage& image);

// Reads data.dat's bytes over `image`, which holds the reset values. Reading
// stops at the first field, length or string that is not wholly in the bytes
// (a negative length counts as such): that item and everything after it keep
// their values, except that a list cut short takes the lines wholly before
// the cut. A list of length 0 is left as it is. Returns true when every item
// was read.
bool ParseDataImage(std::string_view bytes, TDataImage& image);

// Keeps of the lists read from data.dat what this version could have stored
// for a forum base URL of `forumBaseBytes` bytes (an older version stored
// whatever the server sent): read marks and favourites of no more fields than
// their kind has, each within the cap of the reply field it came from, with
// no line-break or NUL byte, at most each list's cap of them (the newest read
// marks, the first favourites); forum names as a forum list reply gives them.
void BoundStoredLists(TDataImage& image, size_t forumBaseBytes);

}  // namespace zelt
