// The update manifest as it arrives from the network: only the exact layout
// is taken, and a parsed manifest vouches only for the file asked for, a
// newer version, and a body of its size and hash.
#include <gtest/gtest.h>

#include <string>

#include "net/UpdateManifest.h"

namespace zelt {
namespace {

const std::string kSha(64, 'a'), kOtherSha = std::string(63, 'a') + "b",
                  kSig = std::string(64, '0') + std::string(64, 'f');
std::string Manifest(const std::string& file = "files.zip", const std::string& version = "0.5",
                     const std::string& size = "1234", const std::string& sha = kSha) {
  return "product=Zelt Rarazovo\nfile=" + file + "\nversion=" + version + "\nsize=" + size + "\nsha256=" + sha +
         "\nsignature=" + kSig + "\n";
}

TEST(UpdateManifest, OnlyTheExactLayoutIsTaken) {
  TUpdateManifest m;
  ASSERT_TRUE(ParseUpdateManifest(Manifest(), m));
  EXPECT_EQ(m.File + "|" + m.VersionText + "|" + std::to_string(m.Size), "files.zip|0.5|1234");
  EXPECT_EQ(m.Version, (TVersion{0, 5, 0, 0}));
  EXPECT_EQ(m.Sha256, std::string(32, '\xaa'));
  EXPECT_EQ(m.Signature, std::string(32, '\0') + std::string(32, '\xff'));
  EXPECT_EQ(m.Signed, Manifest().substr(0, Manifest().find("signature=")));

  const std::string good = Manifest();
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string s = good;
    return s.replace(s.find(from), from.size(), to);
  };
  const std::string refused[] = {
      "",
      good.substr(0, good.size() - 1),                      // no LF at the end
      good + "\n",                                          // a byte more
      replaced("\n", "\r\n"),                               // CR LF
      replaced("product=Zelt Rarazovo", "product=Zelt"),    // another product
      replaced("file=files.zip\nversion=0.5", "version=0.5\nfile=files.zip"),  // another order
      Manifest("../files.zip"), Manifest(".zip"), Manifest(""), Manifest(std::string(65, 'f')),
      Manifest("files.zip", "65536"),  // a version ParseVersion refuses
      Manifest("files.zip", "0.5", "12345678901"),  // beyond ten digits
      replaced(kSig, kSig.substr(2)),
      good + std::string(kMaxManifestBytes, 'x'),
  };
  for (const std::string& text : refused) EXPECT_FALSE(ParseUpdateManifest(text, m)) << text;
}

TEST(UpdateManifest, ItVouchesOnlyForTheFileAskedForANewerVersionAndThatBody) {
  const std::string hash(32, '\xaa');
  const struct {
    std::string manifest, requested, own;
    uint64_t size;
    TManifestVerdict verdict;
  } cases[] = {
      {Manifest(), "files.zip", "0.4", 1234, TManifestVerdict::Accepted},
      {Manifest("files.zip", "0.10"), "files.zip", "0.9", 1234, TManifestVerdict::Accepted},
      {Manifest("files.zip", "1"), "files.zip", "0.65535.65535.65535", 1234, TManifestVerdict::Accepted},
      {Manifest(), "ZeltInformerSetup.zip", "0.4", 1234, TManifestVerdict::OtherFile},
      {Manifest("Files.zip"), "files.zip", "0.4", 1234, TManifestVerdict::OtherFile},
      {Manifest(), "files.zip", "0.5", 1234, TManifestVerdict::NotNewer},
      {Manifest("files.zip", "0.9"), "files.zip", "0.10", 1234, TManifestVerdict::NotNewer},
      {Manifest(), "files.zip", "0.4", 1233, TManifestVerdict::OtherSize},
      {Manifest("files.zip", "0.5", "1234", kOtherSha), "files.zip", "0.4", 1234, TManifestVerdict::OtherHash},
  };
  for (const auto& c : cases) {
    TUpdateManifest m;
    TVersion own;
    ASSERT_TRUE(ParseUpdateManifest(c.manifest, m) && ParseVersion(c.own, own)) << c.manifest;
    EXPECT_EQ(CheckUpdateManifest(m, c.requested, c.size, hash, own), c.verdict) << c.requested << " " << c.own;
  }
}

}  // namespace
}  // namespace zelt
