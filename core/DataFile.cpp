#include "core/DataFile.h"

#include <algorithm>
#include <bit>
#include <initializer_list>
#include <limits>
#include <vector>

#include "core/ReplyDecoding.h"

namespace zelt {

namespace {

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  bool Put(TWire, uint8_t v) { return Le(v, 1); }
  bool Put(TWire, bool v) { return Le(v ? 1 : 0, 1); }
  bool Put(TWire, uint16_t v) { return Le(v, 2); }
  bool Put(TWire, uint32_t v) { return Le(v, 4); }
  bool Put(TWire, int32_t v) { return Le(static_cast<uint32_t>(v), 4); }
  bool Put(TWire, double v) { return Le(std::bit_cast<uint64_t>(v), 8); }
  bool Put(TWire wire, const std::string& s) { return Str(wire == TWire::ScrambledText ? ScramblePassword(s) : s); }
  bool Put(TWire, const TStringList& l) { return Str(l.Text()); }

 private:
  bool Str(const std::string& s) {
    // Lengths beyond int32 cannot be stored; such a string is cut (never happens
    // with the program's settings, but the prefix must stay true).
    const size_t n = std::min<size_t>(s.size(), std::numeric_limits<int32_t>::max());
    Le(static_cast<uint32_t>(n), 4);
    out_.append(s, 0, n);
    return true;
  }
  bool Le(uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
    return true;
  }
  std::string& out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool Take(TWire, uint8_t& v) { return Number(v); }
  bool Take(TWire, uint16_t& v) { return Number(v); }
  bool Take(TWire, uint32_t& v) { return Number(v); }
  bool Take(TWire, int32_t& v) { return Number(v); }
  bool Take(TWire, bool& v) {
    uint8_t x;
    if (!Number(x)) return false;
    v = x != 0;
    return true;
  }
  bool Take(TWire, double& v) {
    uint64_t x;
    if (!Number(x)) return false;
    v = std::bit_cast<double>(x);
    return true;
  }
  bool Take(TWire wire, std::string& s) {
    std::string_view v;
    if (!Bytes(v)) return false;
    s.assign(v);
    if (wire == TWire::ScrambledText) s = ScramblePassword(s);
    return true;
  }
  bool Take(TWire, TStringList& l) { return List(l); }

 private:
  template <class T>
  bool Number(T& v) {
    uint64_t x;
    if (!Le(x, sizeof v)) return false;
    v = static_cast<T>(x);
    return true;
  }
  // A length, then that many bytes; a negative length or one beyond the rest
  // of the file stops reading with `s` untouched.
  bool Bytes(std::string_view& s) {
    int32_t n;
    if (!Number(n) || n < 0 || static_cast<size_t>(n) > in_.size() - pos_) return false;
    s = in_.substr(pos_, static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    return true;
  }
  // A list whose length runs past the end of the file takes the lines that
  // end before it (the last one may be cut short) and stops reading.
  bool List(TStringList& l) {
    int32_t n;
    if (!Number(n) || n < 0) return false;
    std::string_view v = in_.substr(pos_, static_cast<size_t>(n));
    const bool whole = v.size() == static_cast<size_t>(n);
    if (!whole) v = v.substr(0, v.rfind('\r') + 1);  // nothing without a line end
    pos_ += v.size();
    if (!v.empty()) l.SetText(v);
    return whole;
  }
  bool Le(uint64_t& v, size_t bytes) {
    if (in_.size() - pos_ < bytes) return false;
    v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= uint64_t{static_cast<uint8_t>(in_[pos_ + i])} << (8 * i);
    pos_ += bytes;
    return true;
  }
  std::string_view in_;
  size_t pos_ = 0;
};

}  // namespace

std::string SerializeDataImage(const TDataImage& d) {
  std::string out;
  out.reserve(kSettingsBlockSize + 64 + d.ReadMarks.Count() * 64);
  Writer w(out);
  ForEachDataField(d, [&](TWire wire, const auto& field) { return w.Put(wire, field); });
  return out;
}

bool ParseDataImage(std::string_view bytes, TDataImage& d) {
  Reader r(bytes);
  return ForEachDataField(d, [&](TWire wire, auto& field) { return r.Take(wire, field); });
}

namespace {

// Whether an entry holds no more fields than there are caps, each within its
// cap (fields end at 0x11; the last may be ended by one too), and none of the
// bytes the cleaning removes.
bool Fits(std::string_view entry, std::initializer_list<size_t> caps) {
  if (entry.find_first_of(std::string_view("\n\0", 2)) != std::string_view::npos) return false;
  for (const size_t cap : caps) {
    const size_t sep = entry.find('\x11');
    if (std::min(sep, entry.size()) > cap) return false;
    if (sep == std::string_view::npos) return true;
    entry.remove_prefix(sep + 1);
  }
  return entry.empty();
}

// The entries that fit, at most `cap` of them: the last ones when `newest`.
template <class Test>
void Keep(TStringList& list, size_t cap, bool newest, Test fits) {
  std::vector<std::string> kept;
  for (const std::string& entry : list.Lines())
    if (fits(entry)) kept.push_back(entry);
  const long over = static_cast<long>(kept.size() > cap ? kept.size() - cap : 0);
  if (newest)
    kept.erase(kept.begin(), kept.begin() + over);
  else
    kept.erase(kept.end() - over, kept.end());
  list.Clear();
  for (std::string& entry : kept) list.Add(std::move(entry));
}

}  // namespace

void BoundStoredLists(TStoredLists& d, size_t forumBaseBytes) {
  const size_t link = forumBaseBytes + kMaxPathBytes + 5;  // an open link: "-0-17" appended
  Keep(d.ReadMarks, kMaxReadMarks, true, [&](const std::string& e) { return Fits(e, {link - 3, kMaxRepliesBytes}); });
  Keep(d.Favorites, kMaxFavorites, false,
       [&](const std::string& e) { return Fits(e, {kMaxTitleBytes, kMaxForumBytes, link}); });
  // Forum names are the server's lines: read as a reply's are.
  const std::string forums = d.ForumNames.Text();
  ReadForumList(forums, d.ForumNames);
}

}  // namespace zelt
