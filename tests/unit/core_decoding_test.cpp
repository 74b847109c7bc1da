// Reply decoding: inflation, named and numeric references, number reading.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "core/ReplyDecoding.h"
#include "tests/unit/core_reference_decoders.h"

namespace zelt {
namespace {

using namespace std::string_literals;

std::string Named(std::string s) {
  DecodeNamedEntities(s);
  return s;
}

// A zlib stream of `text` without its two header bytes, as the server sends it.
std::string Body(const std::string& text, int level = Z_DEFAULT_COMPRESSION) {
  uLongf n = compressBound(static_cast<uLong>(text.size()));
  std::string z(n, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(text.data()),
                      static_cast<uLong>(text.size()), level),
            Z_OK);
  z.resize(n);
  return z.substr(2);
}

TEST(CoreNamedEntities, EveryEntityBecomesItsByte) {
  for (const auto& [entity, byte] : reference::kNamedEntities) {
    EXPECT_EQ(Named("x"s + entity + "y"), "x"s + byte + "y") << entity;
  }
}

TEST(CoreNamedEntities, OrderAndLeftovers) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"&amp;lt;", "<"},                  // ampersand is decoded before less-than
      {"&amp;quot;", "&quot;"},           // quotation mark came first: stays an entity
      {"&amp;amp;lt;", "<"},              // the ampersand cascades into itself
      {"&amp;amp;amp;", "&"},
      {"&amp;&quot;", "&\""},
      {"&&lt;", "&<"},
      {"&LT; &Amp; &apos; &lt &#60;", "&LT; &Amp; &apos; &lt &#60;"},  // unknown, case-sensitive, no ";"
      {"a & b", "a & b"},
      {"&nbsp;&hellip;&euro;", "\xA0\x85\x88"},
      {"", ""},
      {"&", "&"},
      {"&amp", "&amp"},
      {"Tom &amp; Jerry &laquo;1&raquo;", "Tom & Jerry \xAB" "1\xBB"},
  };
  for (const auto& c : cases) EXPECT_EQ(Named(c.in), c.out) << c.in;
}

TEST(CoreNumericRefs, Codes) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"&#1055;&#1088;&#1080;", "\xCF\xF0\xE8"},  // П р и
      {"&#1066;&#1098;", "\xDA\xFA"},             // Ъ ъ
      {"&#1025;&#1105;", "\xA8\xB8"},             // Ё ё
      {"&#1040;&#1103;", "\xC0\xFF"},             // А я
      {"&#1106;", ""},                            // outside the table: removed
      {"&#1026;&#1039;&#1104;", "   "},           // Ђ..Џ, ѐ: blanks
      {"&#233;", "\xE9"},
      {"&#65;&#0;&#255;", "A\0\xFF"s},
      {"&#256;&#1024;&#1041x;", "\xC1"},          // digits end at the first non-digit
      {"&#-65;&#+65;", "A"},                      // a negative code is removed
      {"&#x41;", "\0"s},                          // hexadecimal: no digits, so 0
      {"&#;", "\0"s},
      {"&#17;", "\x11"},
      {"&#99999999999;", ""},                     // saturates instead of wrapping
      {"&#4294967361;", ""},                      // would wrap to 65 in 32 bits
      {"&#-99999999999999999999;x", "x"},
      {"a&#65;b&#66", "aAb&#66"},                 // no ";" after the last one
      {"&#66&#65;", "B"},                        // the first ";" ends the first reference
      {"&#65", "&#65"},
      {"&#38;#65;", "A"},                         // a decoded "&" starts a new reference
      {"&&#35;65;", "A"},                         // a decoded "#" completes one with the byte before
      {"&#38;&#35;65;", "A"},
      {"&#&#65;;", "\0;"s},
      {"&#59;", ";"},
      {"no references", "no references"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeNumericRefs(c.in), c.out) << c.in;
}

TEST(CoreNumericRefs, SeventeenSplitsAFieldAfterDecoding) {
  std::string_view rest;
  const std::string text = DecodeNumericRefs("Title &#17;part\x11path");
  rest = text;
  EXPECT_EQ(TakeField(rest), "Title ");
  EXPECT_EQ(TakeField(rest), "part");
  EXPECT_EQ(TakeField(rest), "path");
  EXPECT_TRUE(rest.empty());
}

// Inputs built from the pieces that interact: ampersands, hashes,
// semicolons, entity names, digits of self-referring codes.
std::string RandomText(std::mt19937& rng) {
  static const std::vector<std::string> pieces = {
      "&", "#", ";", "amp;", "quot;", "lt;", "gt;", "nbsp;", "&amp;", "&#", "38", "35", "59", "65", "17",
      "1055", "1105", "0", "x", "-", "+", "a", "\x11", "&lt;", "&quot;", "&#38;", "&#35;", "999999999999",
      "sup1;", "&hellip;", "rsquo;", " "};
  std::uniform_int_distribution<size_t> len(0, 24), pick(0, pieces.size() - 1);
  std::string s;
  for (size_t n = len(rng); n > 0; --n) s += pieces[pick(rng)];
  return s;
}

TEST(CoreDecodingReference, GeneratedInputsMatchTheLiteralDecoders) {
  std::mt19937 rng(20261205);
  for (int i = 0; i < 50000; ++i) {
    const std::string in = RandomText(rng);
    std::string fast = in, slow = in;
    DecodeNamedEntities(fast);
    reference::DecodeNamedEntities(slow);
    ASSERT_EQ(fast, slow) << "named: " << in;
    ASSERT_EQ(DecodeNumericRefs(in), reference::DecodeNumericRefs(in)) << "numeric: " << in;
    ASSERT_EQ(DecodeNumericRefs(fast), reference::DecodeNumericRefs(slow)) << "both: " << in;
  }
}

TEST(CoreNumberValue, SignDigitsAndSaturation) {
  const struct {
    std::string in;
    int32_t out;
  } cases[] = {
      {"", 0},          {"abc", 0},         {"12", 12},       {"-12", -12},    {"+7x", 7},
      {" 5", 0},        {"--5", 0},         {"-", 0},         {"007", 7},      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},           {"2147483648", INT32_MAX},          {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},          {std::string(1000, '9'), INT32_MAX},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberValue(c.in), c.out) << c.in;
}

TEST(CoreAsciiFold, OnlyLatinLettersFold) {
  EXPECT_TRUE(EqualsAsciiNoCase("Ivan", "IVAN"));
  EXPECT_TRUE(EqualsAsciiNoCase("a\xC0z", "A\xC0Z"));
  EXPECT_FALSE(EqualsAsciiNoCase("\xC8\xE2\xE0\xED", "\xC8\xC2\xC0\xCD"));  // Иван / ИВАН
  EXPECT_FALSE(EqualsAsciiNoCase("Ivan", "Ivan "));
  EXPECT_FALSE(EqualsAsciiNoCase("[", "{"));  // 0x5B and 0x7B are not letters
}

TEST(CoreInflate, BodiesWholeTruncatedDamagedAndPlain) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "topic " + std::to_string(i) + "\x11";
  const std::string body = Body(text);

  EXPECT_EQ(InflateReply(body), text);
  EXPECT_EQ(InflateReply(Body(text, 9)), text);
  EXPECT_EQ(InflateReply(Body(text, 1)), text);
  // Without the Adler-32 trailer, or with a wrong one: still the whole text.
  EXPECT_EQ(InflateReply(body.substr(0, body.size() - 4)), text);
  std::string damagedTrailer = body;
  damagedTrailer.back() ^= 0x55;
  EXPECT_EQ(InflateReply(damagedTrailer), text);
  // Cut in the middle: a proper prefix of the text.
  const std::string half = InflateReply(body.substr(0, body.size() / 2));
  EXPECT_LT(half.size(), text.size());
  EXPECT_EQ(text.compare(0, half.size(), half), 0);
  // Not compressed at all, or nothing at all: an empty or short text, no failure.
  EXPECT_LE(InflateReply("just a plain text body").size(), 22u);
  EXPECT_EQ(InflateReply(""), "");
}

TEST(CoreInflate, StopsAtTheCap) {
  const std::string text(kMaxInflatedText + (4u << 20), 'a');
  const std::string body = Body(text, 9);
  ASSERT_LT(body.size(), 64u * 1024);  // a small body that would expand 20 MiB
  const std::string out = InflateReply(body);
  EXPECT_EQ(out.size(), kMaxInflatedText);
  EXPECT_EQ(out.find_first_not_of('a'), std::string::npos);
  // A smaller cap for the same body is honoured exactly too.
  EXPECT_EQ(InflateReply(body, 1000).size(), 1000u);
}

}  // namespace
}  // namespace zelt
