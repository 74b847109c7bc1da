// The packages' signature check against what scripts/sign-update makes with
// openssl: the build signs its test packages with the throwaway key whose
// public half this build carries.
#include <gtest/gtest.h>

#include "BuildConfig.h"
#include "net/UpdateSignature_win.h"
#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

// A file the build signed with its throwaway key.
std::string UpdateFile(const std::string& name) {
  return ReadText(WindowsPath(BuildSetting("build")) + "\\update-files\\" + name);
}

TEST(update_signature, OnlyTheWholePackageSignedWithOurKeyPasses) {
  const std::string key = UpdateKeyFromHex(build::kUpdateKeyHex);
  ASSERT_EQ(key.size(), kUpdateKeyBytes) << "a test build carries its throwaway key";
  const std::string package = (UpdateFile("files.zip"));
  const std::string signature = (UpdateFile("files.zip.sig"));
  ASSERT_GT(package.size(), 1000u);
  auto flipped = [](std::string s, size_t at) {
    s[at] = static_cast<char>(s[at] ^ 0x01);
    return s;
  };
  const struct {
    const char* name;
    std::string key, data, signature;
    bool genuine;
  } cases[] = {
      {"as signed", key, package, signature, true},
      {"one byte of the package changed", key, flipped(package, package.size() / 2), signature, false},
      {"the package cut short", key, package.substr(0, package.size() - 1), signature, false},
      {"the package with a byte more", key, package + '\0', signature, false},
      {"one byte of r changed", key, package, flipped(signature, 5), false},
      {"one byte of s changed", key, package, flipped(signature, 40), false},
      {"signature cut short", key, package, signature.substr(0, 63), false},
      {"signature with a byte more", key, package, signature + '\0', false},
      {"empty signature", key, package, "", false},
      {"zero signature", key, package, std::string(64, '\0'), false},
      {"another signed file's signature", key, package, (UpdateFile("ZeltInformerSetup.zip.sig")), false},
      {"a key off the curve", flipped(key, 63), package, signature, false},
      {"no key", "", package, signature, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VerifyUpdateSignature(c.key, c.data, c.signature), c.genuine);
  }
}

TEST(update_signature, KeyIsTakenOnlyFrom128HexDigits) {
  const std::string hex(build::kUpdateKeyHex);
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(UpdateKeyFromHex(upper), UpdateKeyFromHex(hex));
  for (const std::string& bad : {hex.substr(1), hex + "0", "g" + hex.substr(1), std::string()})
    EXPECT_EQ(UpdateKeyFromHex(bad), "") << bad;
}

}  // namespace
}  // namespace zelt::fake
