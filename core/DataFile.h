// data.dat: the traffic counters, the settings and the three lists, laid out
// by one field table that writes and reads the file (and that
// tools/datfile.py reads too). All integers are little-endian; a string is
// an int32 byte length and its bytes; a list is its text with CR LF after
// every line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "base/ProductNames.h"
#include "core/Settings.h"
#include "core/StringList.h"
#include "core/Traffic.h"

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

struct TStoredLists {
  TStringList Favorites, ForumNames, ReadMarks;
};

// Everything data.dat holds: the three parts its owners keep apart, side by
// side (the password is plain text here, data.dat holds it scrambled).
struct TDataImage : TTrafficCounters, TSettings, TStoredLists {};

// How a field is stored.
enum class TWire : uint8_t { U8, Bool, U16, U32, I32, F64, Text, ScrambledText, Lines };

// One row of the table: a field of one of the parts and how it is stored.
template <auto Member, TWire Wire>
struct TDataField {
  using Value = std::remove_cvref_t<decltype(std::declval<TDataImage&>().*Member)>;
  static constexpr auto kMember = Member;
  static constexpr TWire kWire = Wire;
  static constexpr size_t kFixedBytes = Wire == TWire::F64                        ? 8
                                        : Wire == TWire::U32 || Wire == TWire::I32 ? 4
                                        : Wire == TWire::U16                      ? 2
                                        : Wire == TWire::U8 || Wire == TWire::Bool ? 1
                                                                                  : 0;
  static_assert(Wire == TWire::U8    ? std::is_same_v<Value, uint8_t>
                : Wire == TWire::Bool ? std::is_same_v<Value, bool>
                : Wire == TWire::U16  ? std::is_same_v<Value, uint16_t>
                : Wire == TWire::U32  ? std::is_same_v<Value, uint32_t>
                : Wire == TWire::I32  ? std::is_same_v<Value, int32_t>
                : Wire == TWire::F64  ? std::is_same_v<Value, double>
                : Wire == TWire::Lines ? std::is_same_v<Value, TStringList>
                                       : std::is_same_v<Value, std::string>,
                "the wire does not fit the field");
};

// data.dat in file order, one row per line: the 64-byte settings block, the
// seven text settings, the three lists.
using TDataFields = std::tuple<
    TDataField<&TTrafficCounters::LastInBytes, TWire::U32>,
    TDataField<&TTrafficCounters::LastInUnpacked, TWire::U32>,
    TDataField<&TTrafficCounters::LastOutBytes, TWire::U32>,
    TDataField<&TTrafficCounters::TotalInBytes, TWire::U32>,
    TDataField<&TTrafficCounters::TotalInUnpacked, TWire::U32>,
    TDataField<&TTrafficCounters::TotalOutBytes, TWire::U32>,
    TDataField<&TTrafficCounters::UpdateInBytes, TWire::U32>,
    TDataField<&TTrafficCounters::UpdateOutBytes, TWire::U32>,
    TDataField<&TTrafficCounters::UpdateTotalBytes, TWire::U32>,
    TDataField<&TTrafficCounters::Reserved36, TWire::U32>,
    TDataField<&TTrafficCounters::TrafficSince, TWire::F64>,
    TDataField<&TSettings::IntervalMs, TWire::I32>,
    TDataField<&TSettings::TopicCount, TWire::I32>,
    TDataField<&TSettings::IgnoreOwnPosts, TWire::Bool>,
    TDataField<&TSettings::AutoStart, TWire::Bool>,
    TDataField<&TSettings::ShowOnNew, TWire::Bool>,
    TDataField<&TSettings::UseSounds, TWire::Bool>,
    TDataField<&TSettings::UseIESettings, TWire::Bool>,
    TDataField<&TSettings::Reserved61, TWire::U8>,
    TDataField<&TSettings::ProxyPort, TWire::U16>,
    TDataField<&TSettings::ProxyServer, TWire::Text>,
    TDataField<&TSettings::UserName, TWire::Text>,
    TDataField<&TSettings::Password, TWire::ScrambledText>,
    TDataField<&TSettings::Nick, TWire::Text>,
    TDataField<&TSettings::SoundNewMessages, TWire::Text>,
    TDataField<&TSettings::SoundNewVersion, TWire::Text>,
    TDataField<&TSettings::SoundError, TWire::Text>,
    TDataField<&TStoredLists::Favorites, TWire::Lines>,
    TDataField<&TStoredLists::ForumNames, TWire::Lines>,
    TDataField<&TStoredLists::ReadMarks, TWire::Lines>>;

// The fixed-size fields come first and fill the settings block exactly.
static_assert([]<class... F>(std::tuple<F...>*) {
  size_t block = 0;
  bool fixed = true;
  for (const size_t n : {F::kFixedBytes...}) {
    if (n != 0 && !fixed) return false;
    fixed = n != 0;
    block += n;
  }
  return block == kSettingsBlockSize;
}(static_cast<TDataFields*>(nullptr)));

// Calls f(wire, field) for the fields of `image` in file order while it
// returns true; true when it did for every field.
template <class Image, class F>
bool ForEachDataField(Image& image, F&& f) {
  return std::apply([&](auto... field) { return (f(field.kWire, image.*decltype(field)::kMember) && ...); },
                    TDataFields{});
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
void BoundStoredLists(TStoredLists& lists, size_t forumBaseBytes);

}  // namespace zelt
