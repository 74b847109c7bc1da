// The packages' manifest check against what scripts/sign-update makes with
// openssl: the build signs its test packages, as the next version, with the
// throwaway key whose public half this build carries. The manifest's layout
// and what it vouches for are the portable tests'; here, that the signature
// is checked, the package's own bytes hashed and the installed version asked.

#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

TEST(update_signature, OnlyOurManifestOfThatFileAndANewerVersionPasses) {
  const std::string key = UpdateKeyFromHex(build::kUpdateKeyHex);
  ASSERT_EQ(key.size(), kUpdateKeyBytes) << "a test build carries its throwaway key";
  const std::string package = Signed("files.zip"), manifest = Signed("files.zip.sig");
  ASSERT_GT(package.size(), 1000u);
  auto flipped = [](std::string s, size_t at) {
    s[at] = static_cast<char>(s[at] ^ 0x01);
    return s;
  };
  // The manifest with one character changed; a digit of the signature
  // still a hex digit: only the signature's check can tell.
  auto changed = [&](size_t at, char to) {
    std::string m = manifest;
    m[at] = m[at] == to ? '1' : to;
    return m;
  };
  const size_t r = manifest.find("signature=") + 10, s = r + 64;
  const struct {
    const char* name;
    std::string key, manifest, package;
    bool genuine;
  } cases[] = {
      {"as signed", key, manifest, package, true},
      {"one byte of the package changed", key, manifest, flipped(package, package.size() / 2), false},
      {"one digit of r changed", key, changed(r + 5, '0'), package, false},
      {"one digit of s changed", key, changed(s + 5, '0'), package, false},
      {"a signed line changed", key, changed(manifest.find("version=0.5") + 10, '7'), package, false},
      {"a key off the curve", flipped(key, 63), manifest, package, false},
      {"no key", "", manifest, package, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VerifyUpdatePackage(c.key, c.manifest, "files.zip", c.package, "0.4"), c.genuine);
  }
}

}  // namespace
}  // namespace zelt::fake
