// Turning the informer server's body into text and the text into fields:
// bounded inflation, character reference decoding, field splitting and the
// lenient number reading used for reply counts and forum ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/StringList.h"

namespace zelt {

// Largest text an inflated body may give; more is cut off like a truncated body.
// A request asks for at most a few dozen topics, whose text is a few kilobytes
// each at most: a megabyte leaves ample room and bounds what a compressed
// bomb of a few kilobytes can make the program hold.
inline constexpr size_t kMaxInflatedText = size_t{1} << 20;

// The forum list keeps at most this many "name=id" lines of at most this
// many bytes; longer lines and lines without "=" are dropped.
inline constexpr size_t kMaxForumLines = 2000;
inline constexpr size_t kMaxForumLineBytes = 200;

// The longest field of a topic record, in bytes after decoding and cleaning;
// a record with a longer field is dropped. Forum software keeps titles and
// nicks to 255 characters or less and topic paths to a short slug; the room
// above that is for references the decoding keeps as they are. A forum field
// is an id or a name, which the forum list holds to kMaxForumLineBytes; a
// reply count is a sign and the ten digits of the int32 range.
inline constexpr size_t kMaxTitleBytes = 512;
inline constexpr size_t kMaxPathBytes = 512;
inline constexpr size_t kMaxForumBytes = kMaxForumLineBytes;
inline constexpr size_t kMaxRepliesBytes = 11;
inline constexpr size_t kMaxAuthorBytes = 256;

// Inflates a body that is a zlib stream without its two header bytes: the
// bytes 0x78 0x9C are put in front. Never fails: a damaged, truncated or
// uncompressed body gives the text produced so far (possibly nothing). The
// output buffer grows geometrically and stops at `limit` bytes.
std::string InflateReply(std::string_view body, size_t limit = kMaxInflatedText);

// What a topic reply's body stands for. A body of 0 or 1 byte says that the
// list is unchanged: it gives the previous reply's text behind its version
// flag (no bytes: flag "0"); a longer one is inflated. `Unpacked` is what the
// traffic counts as the text: the body's own length for a short one.
struct TTopicText {
  std::string Text;
  uint32_t Unpacked = 0;
};
TTopicText TopicReplyText(std::string_view body, std::string_view lastReply);

// Replaces the named character references of the reply by their cp1251 bytes,
// with the result of replacing, entity by entity in table order, the first
// occurrence until none is left (so "&amp;lt;" gives "<" and "&amp;quot;"
// gives "&quot;"). Linear time.
void DecodeNamedEntities(std::string& text);

// Decodes "&#number;" references: codes below 256 become that byte, the
// Cyrillic block becomes its cp1251 letters, everything else is removed. The
// result equals decoding the first "&#" again and again from the start of the
// text, so a decoded byte may complete a new reference. Linear time.
std::string DecodeNumericRefs(const std::string& text);

// The byte a numeric reference decodes to, or -1 when it is removed.
int NumericRefByte(int32_t code);

// Number value of a text: an optional sign, then the leading decimal digits;
// 0 when there are none. Values beyond the int32 range saturate.
int32_t NumberValue(std::string_view text);

// Takes one field from the front of `rest`: everything up to the next 0x11,
// which is removed too; without a 0x11 the field is all of `rest`.
std::string_view TakeField(std::string_view& rest);

// The text without the bytes that split the stored lists into entries and
// fields (0x11, CR, LF) and without NUL, so a server's text can never add an
// entry or a field to a list, nor cut one short.
std::string CleanListText(std::string_view text);

// Whether a topic path of a reply (what follows the forum base URL) stays
// inside the forum: ASCII letters, digits, '-', '_', '.' and '/', no ".."
// segment, then optionally '?' and a query of name=value pairs joined by '&'
// whose names and values use the same characters but '/'. No backslash,
// percent sign, blank, quote or any other byte: a link that makes the browser
// call another page of the forum host (a logout, a form) is no topic link.
bool IsTopicPath(std::string_view path);

// The lines of a forum list text (CR LF or a CR alone ends a line), cleaned,
// within the limits above.
void ReadForumList(std::string_view text, TStringList& out);

// Equal after folding the ASCII letters A-Z to lower case; every other byte
// must match exactly.
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);

}  // namespace zelt
