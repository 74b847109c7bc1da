#include "net/UpdateManifest.h"

namespace zelt {

namespace {

constexpr size_t kMaxFileName = 64;
constexpr size_t kMaxSizeDigits = 10;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number without a leading zero, at most `maxDigits` long.
bool Number(std::string_view s, size_t maxDigits, uint64_t& value) {
  if (s.empty() || s.size() > maxDigits || (s.size() > 1 && s[0] == '0')) return false;
  value = 0;
  for (char c : s) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// Lowercase hex of exactly `bytes` bytes.
bool Hex(std::string_view s, size_t bytes, std::string& out) {
  if (s.size() != bytes * 2) return false;
  out.assign(bytes, '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const int digit = IsDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    out[i / 2] = static_cast<char>((static_cast<unsigned char>(out[i / 2]) << 4) | digit);
  }
  return true;
}

// A package's name as the server serves it: letters, digits, '.', '_', '-'.
bool FileName(std::string_view s) {
  if (s.empty() || s.size() > kMaxFileName || s[0] == '.') return false;
  for (char c : s)
    if (!IsDigit(c) && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && c != '.' && c != '_' && c != '-')
      return false;
  return true;
}

// The next line, which must be "key=value" followed by LF.
bool Field(std::string_view text, size_t& pos, std::string_view key, std::string_view& value) {
  const std::string_view rest = text.substr(pos);
  const size_t end = rest.find('\n');
  if (end == std::string_view::npos || rest.substr(0, key.size()) != key || end <= key.size() ||
      rest[key.size()] != '=')
    return false;
  value = rest.substr(key.size() + 1, end - key.size() - 1);
  pos += end + 1;
  return true;
}

}  // namespace

bool ParseVersion(std::string_view text, TVersion& version) {
  TVersion v{};
  size_t part = 0, start = 0;
  for (;;) {
    if (part == v.size()) return false;
    const size_t dot = text.find('.', start);
    const std::string_view piece = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
    uint64_t n = 0;
    if (!Number(piece, 5, n) || n > 0xFFFF) return false;
    v[part++] = static_cast<uint16_t>(n);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  version = v;
  return true;
}

bool ParseUpdateManifest(std::string_view text, TUpdateManifest& manifest) {
  TUpdateManifest m;
  std::string_view product, file, version, size, sha, signature;
  size_t pos = 0;
  if (!Field(text, pos, "product", product) || !Field(text, pos, "file", file) ||
      !Field(text, pos, "version", version) || !Field(text, pos, "size", size) || !Field(text, pos, "sha256", sha))
    return false;
  m.Signed = std::string(text.substr(0, pos));
  if (!Field(text, pos, "signature", signature) || pos != text.size()) return false;
  if (product != kUpdateProduct || !FileName(file) || !ParseVersion(version, m.Version) ||
      !Number(size, kMaxSizeDigits, m.Size) || !Hex(sha, 32, m.Sha256) || !Hex(signature, 64, m.Signature))
    return false;
  m.File = std::string(file);
  m.VersionText = std::string(version);
  manifest = std::move(m);
  return true;
}

TManifestVerdict CheckUpdateManifest(const TUpdateManifest& manifest, std::string_view requestedFile,
                                     uint64_t bodySize, std::string_view bodySha256, const TVersion& own) {
  if (manifest.File != requestedFile) return TManifestVerdict::OtherFile;
  if (!(manifest.Version > own)) return TManifestVerdict::NotNewer;
  if (manifest.Size != bodySize) return TManifestVerdict::OtherSize;
  if (manifest.Sha256 != bodySha256) return TManifestVerdict::OtherHash;
  return TManifestVerdict::Accepted;
}

}  // namespace zelt
