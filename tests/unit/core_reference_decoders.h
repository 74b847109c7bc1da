// The slow, literal decoders the fast ones must equal byte for byte: replace
// the first occurrence and search again from the start. Shared by the unit
// tests, the differential fuzzer and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/ReplyDecoding.h"

namespace zelt::reference {

inline const std::pair<const char*, char> kNamedEntities[] = {
    {"&quot;", '\x22'},   {"&amp;", '\x26'},    {"&lt;", '\x3C'},     {"&gt;", '\x3E'},    {"&curren;", '\xA4'},
    {"&brvbar;", '\xA6'}, {"&sect;", '\xA7'},   {"&copy;", '\xA9'},   {"&ordf;", '\xAA'},  {"&laquo;", '\xAB'},
    {"&reg;", '\xAE'},    {"&deg;", '\xB0'},    {"&plusmn;", '\xB1'}, {"&micro;", '\xB5'}, {"&para;", '\xB6'},
    {"&middot;", '\xB7'}, {"&sup1;", '\xB9'},   {"&euro;", '\x88'},   {"&bull;", '\x95'},  {"&hellip;", '\x85'},
    {"&nbsp;", '\xA0'},   {"&raquo;", '\xBB'},  {"&lsquo;", '\x91'},  {"&rsquo;", '\x92'},
};

inline void DecodeNamedEntities(std::string& text) {
  for (const auto& [entity, byte] : kNamedEntities) {
    const std::string e(entity);
    for (size_t p; (p = text.find(e)) != std::string::npos;) text.replace(p, e.size(), 1, byte);
  }
}

// Number value with a plain 64-bit accumulator, saturated: an optional sign,
// then the leading digits.
inline int64_t LeadingNumber(const std::string& s) {
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > 100000000000LL) v = 100000000000LL;
  }
  return neg ? -v : v;
}

inline std::string DecodeNumericRefs(std::string text) {
  while (true) {
    const size_t amp = text.find("&#");
    if (amp == std::string::npos) break;
    const size_t semi = text.find(';', amp);
    if (semi == std::string::npos) break;
    const int64_t code = LeadingNumber(text.substr(amp + 2, semi - amp - 2));
    std::string repl;
    if (code >= 0 && code < 256)
      repl = std::string(1, static_cast<char>(code));
    else if (code == 0x401)
      repl = "\xA8";
    else if (code >= 0x410 && code <= 0x44F)
      repl = std::string(1, static_cast<char>(code - 0x350));
    else if (code == 0x451)
      repl = "\xB8";
    else if ((code >= 0x402 && code <= 0x40F) || code == 0x450)
      repl = " ";
    text.replace(amp, semi - amp + 1, repl);
  }
  return text;
}

// Whether the linear decoders give for `input` what the literal ones give,
// alone and one after the other as a reply is decoded.
inline bool DecodesAsLiteral(const std::string& input) {
  std::string fast = input, slow = input;
  zelt::DecodeNamedEntities(fast);
  DecodeNamedEntities(slow);
  return fast == slow && zelt::DecodeNumericRefs(input) == DecodeNumericRefs(input) &&
         zelt::DecodeNumericRefs(fast) == DecodeNumericRefs(slow);
}

}  // namespace zelt::reference
