#include "net/UpdateSignature_win.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "base/System_win.h"
#include "net/UpdateManifest.h"

namespace zelt {

namespace {

// bcrypt.dll is loaded from the system folder when a package is first
// checked, not with the program: most runs never check one.
struct Cng {
  decltype(&BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
  decltype(&BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
  decltype(&BCryptCreateHash) CreateHash = nullptr;
  decltype(&BCryptHashData) HashData = nullptr;
  decltype(&BCryptFinishHash) FinishHash = nullptr;
  decltype(&BCryptDestroyHash) DestroyHash = nullptr;
  decltype(&BCryptImportKeyPair) ImportKeyPair = nullptr;
  decltype(&BCryptDestroyKey) DestroyKey = nullptr;
  decltype(&BCryptVerifySignature) VerifySignature = nullptr;
  bool ok = false;

  Cng() {
    auto get = [](auto& fn, const char* name) {
      fn = SystemFunction<std::remove_pointer_t<std::remove_reference_t<decltype(fn)>>>(L"bcrypt.dll", name);
      return fn != nullptr;
    };
    ok = get(OpenAlgorithmProvider, "BCryptOpenAlgorithmProvider") &&
         get(CloseAlgorithmProvider, "BCryptCloseAlgorithmProvider") && get(CreateHash, "BCryptCreateHash") &&
         get(HashData, "BCryptHashData") && get(FinishHash, "BCryptFinishHash") &&
         get(DestroyHash, "BCryptDestroyHash") && get(ImportKeyPair, "BCryptImportKeyPair") &&
         get(DestroyKey, "BCryptDestroyKey") && get(VerifySignature, "BCryptVerifySignature");
  }
};

const Cng& Api() {
  static const Cng api;
  return api;
}

struct Algorithm {
  BCRYPT_ALG_HANDLE h = nullptr;
  explicit Algorithm(const wchar_t* id) {
    if (Api().OpenAlgorithmProvider(&h, id, nullptr, 0) != 0) h = nullptr;
  }
  ~Algorithm() {
    if (h) Api().CloseAlgorithmProvider(h, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
};

struct Key {
  BCRYPT_KEY_HANDLE h = nullptr;
  ~Key() {
    if (h) Api().DestroyKey(h);
  }
};

struct Hash {
  BCRYPT_HASH_HANDLE h = nullptr;
  ~Hash() {
    if (h) Api().DestroyHash(h);
  }
};

bool Digest(std::string_view data, unsigned char (&digest)[32]) {
  if (!Api().ok) return false;
  Algorithm sha(BCRYPT_SHA256_ALGORITHM);
  if (!sha.h) return false;
  Hash hash;
  if (Api().CreateHash(sha.h, &hash.h, nullptr, 0, nullptr, 0, 0) != 0) return false;
  // In pieces: the call takes a 32-bit length.
  for (size_t done = 0; done < data.size();) {
    const ULONG n = static_cast<ULONG>(std::min<size_t>(data.size() - done, 1u << 24));
    if (Api().HashData(hash.h, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data() + done)), n, 0) != 0)
      return false;
    done += n;
  }
  return Api().FinishHash(hash.h, digest, sizeof digest, 0) == 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UpdateKeyFromHex(std::string_view hex) {
  if (hex.size() != kUpdateKeyBytes * 2) return {};
  std::string key(kUpdateKeyBytes, '\0');
  for (size_t i = 0; i < kUpdateKeyBytes; ++i) {
    const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return {};
    key[i] = static_cast<char>(hi * 16 + lo);
  }
  return key;
}

std::string Sha256(std::string_view data) {
  unsigned char digest[32];
  if (!Digest(data, digest)) return {};
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

bool VerifyUpdatePackage(std::string_view publicKey, std::string_view manifestText, std::string_view requestedFile,
                         std::string_view package, std::string_view ownVersion) {
  TUpdateManifest manifest;
  TVersion own;
  if (publicKey.size() != kUpdateKeyBytes || !Api().ok || !ParseUpdateManifest(manifestText, manifest) ||
      !ParseVersion(ownVersion, own))
    return false;
  unsigned char digest[32];
  if (!Digest(manifest.Signed, digest)) return false;

  Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!ecdsa.h) return false;
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + kUpdateKeyBytes);
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, publicKey.data(), kUpdateKeyBytes);
  Key key;
  // The import refuses a point that is not on the curve.
  if (Api().ImportKeyPair(ecdsa.h, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key.h, blob.data(),
                          static_cast<ULONG>(blob.size()), 0) != 0)
    return false;
  std::string signature = manifest.Signature;
  if (Api().VerifySignature(key.h, nullptr, digest, sizeof digest, reinterpret_cast<PUCHAR>(signature.data()),
                            static_cast<ULONG>(signature.size()), 0) != 0)
    return false;
  // Only a manifest that is ours says anything about the package.
  const std::string hash = Sha256(package);
  return !hash.empty() &&
         CheckUpdateManifest(manifest, requestedFile, package.size(), hash, own) == TManifestVerdict::Accepted;
}

}  // namespace zelt
