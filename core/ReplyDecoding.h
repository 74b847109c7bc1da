// Turning the informer server's body into text and the text into fields:
// bounded inflation, character reference decoding, field splitting and the
// lenient number reading used for reply counts and forum ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelt {

// Largest text an inflated body may give; more is cut off like a truncated body.
inline constexpr size_t kMaxInflatedText = size_t{16} << 20;

// Inflates a body that is a zlib stream without its two header bytes: the
// bytes 0x78 0x9C are put in front. Never fails: a damaged, truncated or
// uncompressed body gives the text produced so far (possibly nothing). The
// output buffer grows geometrically and stops at `limit` bytes.
std::string InflateReply(std::string_view body, size_t limit = kMaxInflatedText);

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

// Equal after folding the ASCII letters A-Z to lower case; every other byte
// must match exactly.
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);

}  // namespace zelt
