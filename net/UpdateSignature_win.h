// The check that an update package comes from us: its signed manifest
// ("<file>.sig", net/UpdateManifest.h) verified with the system's CNG
// (ECDSA P-256 over SHA-256) against the public key the build carries, then
// held against the package. The key is the raw public point, X then Y.
#pragma once

#include <string>
#include <string_view>

namespace zelt {

inline constexpr size_t kUpdateKeyBytes = 64;

// The raw key from 128 hex digits; empty for anything else.
std::string UpdateKeyFromHex(std::string_view hex);

// The SHA-256 of `data` (32 bytes); empty when the system's call fails.
std::string Sha256(std::string_view data);

// True only when `manifest` parses, its signature holds under `publicKey`,
// it names `requestedFile` and a version newer than `ownVersion`, and its
// size and hash are those of `package`. A key of the wrong size, a point
// that is not on the curve, or any failure of the system's calls is a
// refusal.
bool VerifyUpdatePackage(std::string_view publicKey, std::string_view manifest, std::string_view requestedFile,
                         std::string_view package, std::string_view ownVersion);

}  // namespace zelt
