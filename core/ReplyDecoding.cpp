#include "core/ReplyDecoding.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace zelt {

std::string InflateReply(std::string_view body, size_t limit) {
  std::string input;
  input.reserve(body.size() + 2);
  input += '\x78';
  input += '\x9C';
  input.append(body);

  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return {};
  zs.next_in = reinterpret_cast<Bytef*>(input.data());
  zs.avail_in = static_cast<uInt>(std::min<size_t>(input.size(), std::numeric_limits<uInt>::max()));

  // Start at the input size rounded up to a multiple of 256 and double from
  // there, so a large text costs a few reallocations, not thousands.
  size_t capacity = std::min(limit, (input.size() + 255) / 256 * 256);
  std::string out(capacity, '\0');
  size_t produced = 0;
  while (true) {
    if (produced == out.size()) {
      if (out.size() >= limit) break;  // the cap: keep what there is
      out.resize(std::min(limit, std::max<size_t>(out.size() * 2, 256)));
    }
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - produced, std::numeric_limits<uInt>::max()));
    const uInt before = zs.avail_out;
    const int rc = inflate(&zs, Z_NO_FLUSH);
    produced += before - zs.avail_out;
    // Anything but "went on and wants more room" ends the text: the end of
    // the stream, an error, or no progress because the input is used up.
    if (rc != Z_OK || zs.avail_out != 0) break;
  }
  inflateEnd(&zs);
  out.resize(produced);
  return out;
}

TTopicText TopicReplyText(std::string_view body, std::string_view lastReply) {
  if (body.size() > 1) {
    std::string text = InflateReply(body);
    const auto unpacked = static_cast<uint32_t>(text.size());
    return {std::move(text), unpacked};
  }
  return {(body.empty() ? std::string("0") : std::string(body)) + std::string(lastReply),
          static_cast<uint32_t>(body.size())};
}

namespace {

struct Entity {
  const char* name;  // without the leading "&"
  size_t length;
  char byte;
};

#define ZELT_ENTITY(n, b) {n, sizeof(n) - 1, static_cast<char>(b)}
// "&quot;" and "&amp;" are handled on their own (they come first); these
// follow in table order.
constexpr Entity kLaterEntities[] = {
    ZELT_ENTITY("lt;", 0x3C),     ZELT_ENTITY("gt;", 0x3E),     ZELT_ENTITY("curren;", 0xA4),
    ZELT_ENTITY("brvbar;", 0xA6), ZELT_ENTITY("sect;", 0xA7),   ZELT_ENTITY("copy;", 0xA9),
    ZELT_ENTITY("ordf;", 0xAA),   ZELT_ENTITY("laquo;", 0xAB),  ZELT_ENTITY("reg;", 0xAE),
    ZELT_ENTITY("deg;", 0xB0),    ZELT_ENTITY("plusmn;", 0xB1), ZELT_ENTITY("micro;", 0xB5),
    ZELT_ENTITY("para;", 0xB6),   ZELT_ENTITY("middot;", 0xB7), ZELT_ENTITY("sup1;", 0xB9),
    ZELT_ENTITY("euro;", 0x88),   ZELT_ENTITY("bull;", 0x95),   ZELT_ENTITY("hellip;", 0x85),
    ZELT_ENTITY("nbsp;", 0xA0),   ZELT_ENTITY("raquo;", 0xBB),  ZELT_ENTITY("lsquo;", 0x91),
    ZELT_ENTITY("rsquo;", 0x92),
};
#undef ZELT_ENTITY

bool StartsWith(std::string_view s, size_t at, std::string_view prefix) {
  return s.size() - at >= prefix.size() && std::memcmp(s.data() + at, prefix.data(), prefix.size()) == 0;
}

const Entity* MatchLater(std::string_view s, size_t at) {
  if (at >= s.size()) return nullptr;
  for (const Entity& e : kLaterEntities)
    if (e.name[0] == s[at] && StartsWith(s, at, std::string_view(e.name, e.length))) return &e;
  return nullptr;
}

}  // namespace

// Why one pass gives the result of the entity-by-entity replacement: the
// entities cannot overlap one another (each is "&", letters, ";"), and no
// replacement byte occurs inside an entity except the "&" that "&amp;"
// leaves. So every entity but "&amp;" is replaced exactly where it stands in
// the text its turn sees, and "&amp;" only cascades into itself ("&amp;amp;"
// gives "&") and into the entities after it in the table.
void DecodeNamedEntities(std::string& text) {
  const std::string_view s(text);
  if (s.find('&') == std::string_view::npos) return;
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const size_t amp = s.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(s, i, std::string_view::npos);
      break;
    }
    out.append(s, i, amp - i);
    size_t j = amp + 1;
    if (StartsWith(s, j, "quot;")) {
      out += '"';
      i = j + 5;
      continue;
    }
    while (StartsWith(s, j, "amp;")) j += 4;
    if (const Entity* e = MatchLater(s, j)) {
      out += e->byte;
      i = j + e->length;
    } else {
      out += '&';
      i = j;
    }
  }
  text.swap(out);
}

int NumericRefByte(int32_t code) {
  if (code < 0) return -1;
  if (code < 256) return code;
  if (code == 0x401) return 0xA8;
  if (code >= 0x410 && code <= 0x44F) return code - 0x350;
  if (code == 0x451) return 0xB8;
  if ((code >= 0x402 && code <= 0x40F) || code == 0x450) return 0x20;
  return -1;
}

// A stream over the text: `out` never holds "&#", so the first reference of
// the whole text is where the next byte completes "&#". A decoded byte is
// pushed back in front of the input, because it may complete a new reference
// with the byte before it or the one after it.
std::string DecodeNumericRefs(const std::string& text) {
  const std::string_view s(text);
  if (s.find('#') == std::string_view::npos) return text;
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  int pending = -1;
  while (true) {
    char c;
    if (pending >= 0) {
      c = static_cast<char>(pending);
      pending = -1;
    } else {
      // Only a "#" can complete a reference: copy up to the next one whole.
      const size_t hash = s.find('#', i);
      if (hash == std::string_view::npos) {
        out.append(s, i, std::string_view::npos);
        break;
      }
      out.append(s, i, hash - i);
      c = '#';
      i = hash + 1;
    }
    if (c == '#' && !out.empty() && out.back() == '&') {
      const size_t semi = s.find(';', i);
      if (semi == std::string_view::npos) {  // no end: this and every later reference stay
        out += c;
        out.append(s, i, std::string_view::npos);
        return out;
      }
      const int b = NumericRefByte(NumberValue(s.substr(i, semi - i)));
      i = semi + 1;
      out.pop_back();
      pending = b;
      continue;
    }
    out += c;
  }
  return out;
}

int32_t NumberValue(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kCap = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = std::min(kCap, value * 10 + (text[i] - '0'));
  if (negative) return static_cast<int32_t>(-value);  // -2^31 fits
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

std::string_view TakeField(std::string_view& rest) {
  const size_t sep = rest.find('\x11');
  std::string_view field = rest.substr(0, sep);
  rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);
  return field;
}

std::string CleanListText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\x11' && c != '\r' && c != '\n' && c != '\0') out += c;
  return out;
}

namespace {
bool IsLinkByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.';
}
bool AllLinkBytes(std::string_view s) { return std::all_of(s.begin(), s.end(), IsLinkByte); }
}  // namespace

bool IsTopicPath(std::string_view path) {
  const size_t question = path.find('?');
  std::string_view route = path.substr(0, question);
  while (true) {
    const size_t slash = route.find('/');
    const std::string_view segment = route.substr(0, slash);
    if (segment == ".." || !AllLinkBytes(segment)) return false;
    if (slash == std::string_view::npos) break;
    route.remove_prefix(slash + 1);
  }
  if (question == std::string_view::npos) return true;
  std::string_view query = path.substr(question + 1);
  while (true) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const size_t eq = pair.find('=');
    if (eq == 0 || eq == std::string_view::npos || !AllLinkBytes(pair.substr(0, eq)) ||
        !AllLinkBytes(pair.substr(eq + 1)))
      return false;
    if (amp == std::string_view::npos) return true;
    query.remove_prefix(amp + 1);
  }
}

void ReadForumList(std::string_view text, TStringList& out) {
  out.Clear();
  size_t start = 0;
  while (start < text.size() && out.Count() < kMaxForumLines) {
    size_t end = text.find('\r', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line = CleanListText(text.substr(start, end - start));
    if (line.size() <= kMaxForumLineBytes && line.find('=') != std::string::npos) out.Add(std::move(line));
    start = end + 1;
    if (start < text.size() && text[start] == '\n') ++start;
  }
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

}  // namespace zelt
