// The check that an update package comes from us: a detached ECDSA P-256
// signature over the SHA-256 of the whole package, verified with the
// system's CNG. The signature file holds r then s, 32 bytes each; the key is
// the raw public point, X then Y.
#pragma once

#include <string>
#include <string_view>

namespace zelt {

inline constexpr size_t kUpdateKeyBytes = 64;
inline constexpr size_t kUpdateSignatureBytes = 64;

// The raw key from 128 hex digits; empty for anything else.
std::string UpdateKeyFromHex(std::string_view hex);

// True only when `signature` is a valid signature of `data` under
// `publicKey`. A key or signature of the wrong size, a point that is not on
// the curve, or any failure of the system's calls is a refusal.
bool VerifyUpdateSignature(std::string_view publicKey, std::string_view data, std::string_view signature);

}  // namespace zelt
