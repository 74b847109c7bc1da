// The signed manifest served beside an update package as "<file>.sig": what
// the package is (product, file name, version, size, SHA-256), signed as a
// whole. Six lines of ASCII, each ending in LF, in this order and nothing
// else:
//
//   product=Zelt Rarazovo
//   file=files.zip
//   version=0.5
//   size=123456
//   sha256=<64 lowercase hex digits>
//   signature=<128 lowercase hex digits: r then s>
//
// The signature is ECDSA P-256 over the SHA-256 of the first five lines
// (their bytes up to and including the LF before "signature="). The manifest
// arrives from the network: it is parsed strictly, and anything else (another
// order, a blank, a CR, a leading zero, an upper-case digit, a byte more) is
// refused. The signature itself is checked on the Windows side.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelt {

inline constexpr const char* kUpdateProduct = "Zelt Rarazovo";
// The longest manifest fetched; the fields' limits keep a valid one below
// 400 bytes.
inline constexpr size_t kMaxManifestBytes = 512;

// A version: up to four numbers of 0..65535 (as in a version resource),
// missing ones 0.
using TVersion = std::array<uint16_t, 4>;

// "1", "0.5", "1.2.3.4": numbers without leading zeros, joined by single
// dots. False for anything else.
bool ParseVersion(std::string_view text, TVersion& version);

struct TUpdateManifest {
  std::string File;
  std::string VersionText;
  TVersion Version{};
  uint64_t Size = 0;
  std::string Sha256;     // 32 raw bytes
  std::string Signature;  // 64 raw bytes, r then s
  std::string Signed;     // the signed bytes: the first five lines
};

bool ParseUpdateManifest(std::string_view text, TUpdateManifest& manifest);

enum class TManifestVerdict { Accepted, OtherFile, NotNewer, OtherSize, OtherHash };

// Whether a manifest whose signature holds vouches for `body` fetched as
// `requestedFile` by a program of version `own`.
TManifestVerdict CheckUpdateManifest(const TUpdateManifest& manifest, std::string_view requestedFile,
                                     uint64_t bodySize, std::string_view bodySha256, const TVersion& own);

}  // namespace zelt
