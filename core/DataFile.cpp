#include "core/DataFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

#include "base/SafeFile.h"
#include "core/ReplyDecoding.h"
#include "core/Settings.h"
#include "core/uChecker.h"

namespace zelt {

namespace {

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  void U8(uint8_t v) { out_ += static_cast<char>(v); }
  void U16(uint16_t v) { Le(v, 2); }
  void U32(uint32_t v) { Le(v, 4); }
  void I32(int32_t v) { Le(static_cast<uint32_t>(v), 4); }
  void F64(double v) { Le(std::bit_cast<uint64_t>(v), 8); }
  void Bool(bool v) { U8(v ? 1 : 0); }
  void Str(const std::string& s) {
    // Lengths beyond int32 cannot be stored; such a string is cut (never happens
    // with the program's settings, but the prefix must stay true).
    const size_t n = std::min<size_t>(s.size(), std::numeric_limits<int32_t>::max());
    I32(static_cast<int32_t>(n));
    out_.append(s, 0, n);
  }

 private:
  void Le(uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  std::string& out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool U8(uint8_t& v) {
    uint64_t x;
    if (!Le(x, 1)) return false;
    v = static_cast<uint8_t>(x);
    return true;
  }
  bool U16(uint16_t& v) {
    uint64_t x;
    if (!Le(x, 2)) return false;
    v = static_cast<uint16_t>(x);
    return true;
  }
  bool U32(uint32_t& v) {
    uint64_t x;
    if (!Le(x, 4)) return false;
    v = static_cast<uint32_t>(x);
    return true;
  }
  bool I32(int32_t& v) {
    uint32_t x;
    if (!U32(x)) return false;
    v = static_cast<int32_t>(x);
    return true;
  }
  bool F64(double& v) {
    uint64_t x;
    if (!Le(x, 8)) return false;
    v = std::bit_cast<double>(x);
    return true;
  }
  bool Bool(bool& v) {
    uint8_t x;
    if (!U8(x)) return false;
    v = x != 0;
    return true;
  }
  // A length, then that many bytes; a negative length or one beyond the rest
  // of the file stops reading with `s` untouched.
  bool Bytes(std::string_view& s) {
    int32_t n;
    if (!I32(n) || n < 0 || static_cast<size_t>(n) > in_.size() - pos_) return false;
    s = in_.substr(pos_, static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    return true;
  }
  bool Str(std::string& s) {
    std::string_view v;
    if (!Bytes(v)) return false;
    s.assign(v);
    return true;
  }
  // A list whose length runs past the end of the file takes the lines that
  // end before it (the last one may be cut short) and stops reading.
  bool List(TStringList& l) {
    int32_t n;
    if (!I32(n) || n < 0) return false;
    std::string_view v = in_.substr(pos_, static_cast<size_t>(n));
    const bool whole = v.size() == static_cast<size_t>(n);
    if (!whole) v = v.substr(0, v.rfind('\r') + 1);  // nothing without a line end
    pos_ += v.size();
    if (!v.empty()) l.SetText(v);
    return whole;
  }

 private:
  bool Le(uint64_t& v, int bytes) {
    if (in_.size() - pos_ < static_cast<size_t>(bytes)) return false;
    v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{static_cast<uint8_t>(in_[pos_ + i])} << (8 * i);
    pos_ += static_cast<size_t>(bytes);
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
  // Settings block, 64 bytes.
  for (uint32_t v : {d.LastInBytes, d.LastInUnpacked, d.LastOutBytes, d.TotalInBytes, d.TotalInUnpacked,
                     d.TotalOutBytes, d.UpdateInBytes, d.UpdateOutBytes, d.UpdateTotalBytes, d.Reserved36})
    w.U32(v);
  w.F64(d.TrafficSince);
  w.I32(d.IntervalMs);
  w.I32(d.TopicCount);
  for (bool v : {d.IgnoreOwnPosts, d.AutoStart, d.ShowOnNew, d.UseSounds, d.UseIESettings}) w.Bool(v);
  w.U8(d.Reserved61);
  w.U16(d.ProxyPort);
  // Text settings, then the lists.
  w.Str(d.ProxyServer);
  w.Str(d.UserName);
  w.Str(ScramblePassword(d.Password));
  for (const std::string* s : {&d.Nick, &d.SoundNewMessages, &d.SoundNewVersion, &d.SoundError}) w.Str(*s);
  for (const TStringList* l : {&d.Favorites, &d.ForumNames, &d.ReadMarks}) w.Str(l->Text());
  return out;
}

bool ParseDataImage(std::string_view bytes, TDataImage& d) {
  Reader r(bytes);
  for (uint32_t* v : {&d.LastInBytes, &d.LastInUnpacked, &d.LastOutBytes, &d.TotalInBytes, &d.TotalInUnpacked,
                      &d.TotalOutBytes, &d.UpdateInBytes, &d.UpdateOutBytes, &d.UpdateTotalBytes, &d.Reserved36})
    if (!r.U32(*v)) return false;
  if (!r.F64(d.TrafficSince) || !r.I32(d.IntervalMs) || !r.I32(d.TopicCount)) return false;
  for (bool* v : {&d.IgnoreOwnPosts, &d.AutoStart, &d.ShowOnNew, &d.UseSounds, &d.UseIESettings})
    if (!r.Bool(*v)) return false;
  if (!r.U8(d.Reserved61) || !r.U16(d.ProxyPort)) return false;
  if (!r.Str(d.ProxyServer) || !r.Str(d.UserName)) return false;
  std::string scrambled;
  if (!r.Str(scrambled)) return false;
  d.Password = ScramblePassword(scrambled);
  for (std::string* s : {&d.Nick, &d.SoundNewMessages, &d.SoundNewVersion, &d.SoundError})
    if (!r.Str(*s)) return false;
  for (TStringList* l : {&d.Favorites, &d.ForumNames, &d.ReadMarks})
    if (!r.List(*l)) return false;
  return true;
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

constexpr auto kAssign = [](auto& dst, const auto& src) { dst = src; };

}  // namespace

void BoundStoredLists(TDataImage& d, size_t forumBaseBytes) {
  const size_t link = forumBaseBytes + kMaxPathBytes + 5;  // an open link: "-0-17" appended
  Keep(d.ReadMarks, kMaxReadMarks, true, [&](const std::string& e) { return Fits(e, {link - 3, kMaxRepliesBytes}); });
  Keep(d.Favorites, kMaxFavorites, false,
       [&](const std::string& e) { return Fits(e, {kMaxTitleBytes, kMaxForumBytes, link}); });
  // Forum names are the server's lines: read as a reply's are.
  const std::string forums = d.ForumNames.Text();
  ReadForumList(forums, d.ForumNames);
}

void TChecker::SaveData() {
  TDataImage image;
  ForEachDataField(image, *this, kAssign);
  // A file that cannot be written is not reported: the state stays in memory
  // and the previous file stays whole.
  ReplaceFileBytes(programDir_ / kDataFileName.Narrow, SerializeDataImage(image));
  SetAutoStart(AutoStart);
}

void TChecker::LoadData() {
  ResetSettings();
  ResetTraffic();
  TDataImage image;
  ForEachDataField(image, *this, kAssign);
  std::string bytes;
  if (ReadFileBytes(programDir_ / kDataFileName.Narrow, bytes)) ParseDataImage(bytes, image);
  BoundStoredLists(image, forumBase_.size());
  ForEachDataField(*this, image, kAssign);

  Loader->Options.ProxyPort = ProxyPort;
  Loader->Options.ProxyServer = ProxyServer;
  Loader->Options.UseSystemProxy = UseIESettings;

  if (TopicCount == 0) TopicCount = 10;
  if (IntervalMs == 0) IntervalMs = 300000;
  // A damaged or hand-edited file: an interval of a few milliseconds would
  // poll back to back, a negative one wait weeks. Both values come into the
  // ranges the settings window allows, as it would correct them.
  IntervalMs = std::clamp(IntervalMs, kMinIntervalMinutes * 60000, kMaxIntervalMinutes * 60000);
  TopicCount = std::clamp(TopicCount, kMinTopicCount, kMaxTopicCount);
  PollTimer->SetInterval(static_cast<uint32_t>(IntervalMs));
}

}  // namespace zelt
