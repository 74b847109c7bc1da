#include "app/patch/PatchFiles_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwctype>

namespace zelt::patch {

namespace {

constexpr char kMagic[8] = {'Z', 'P', 'A', 'Y', 'L', 'O', 'A', 'D'};
constexpr int kMoveAttempts = 50;
constexpr DWORD kMoveRetryMs = 100;

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}
  bool Take(size_t n, std::string_view& out) {
    if (s_.size() - pos_ < n) return false;
    out = s_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  template <class T>
  bool Number(T& v) {
    std::string_view b;
    if (!Take(sizeof(T), b)) return false;
    v = 0;
    for (size_t i = sizeof(T); i-- > 0;) v = static_cast<T>((v << 8) | static_cast<unsigned char>(b[i]));
    return true;
  }
  bool AtEnd() const { return pos_ == s_.size(); }

 private:
  std::string_view s_;
  size_t pos_ = 0;
};

bool SafeName(const std::wstring& name) {
  if (name.empty() || name.front() == L'\\' || name.find_first_of(L":/") != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find(L'\\', start), name.size());
    const std::wstring part = name.substr(start, end - start);
    if (part.empty() || part == L"." || part == L"..") return false;
    start = end + 1;
  }
  std::wstring lower = name;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  return lower != L"data.dat";
}

std::wstring FromUtf8(std::string_view s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Creates the folders on the way to a file below `dir`.
void MakeParents(const std::wstring& dir, const std::wstring& name) {
  for (size_t slash = name.find(L'\\'); slash != std::wstring::npos; slash = name.find(L'\\', slash + 1))
    CreateDirectoryW((dir + name.substr(0, slash)).c_str(), nullptr);
}

bool WriteWhole(const std::wstring& path, std::string_view bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    ok = WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
    done += written;
  }
  ok = FlushFileBuffers(h) && ok;
  ok = CloseHandle(h) && ok;
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

// A file that the program (or a scanner) has only just let go of may still
// be held for a moment.
bool Move(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD err = GetLastError();
    const bool held = err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED || err == ERROR_LOCK_VIOLATION;
    if (!held || attempt == kMoveAttempts) return false;
    Sleep(kMoveRetryMs);
  }
}

}  // namespace

bool ParsePayload(std::string_view payload, std::vector<TPatchFile>& files) {
  files.clear();
  Reader r(payload);
  std::string_view magic;
  uint32_t count = 0;
  if (!r.Take(sizeof kMagic, magic) || std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0 || !r.Number(count))
    return false;
  std::vector<TPatchFile> out;
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t nameLength = 0;
    uint32_t size = 0;
    std::string_view name, bytes;
    if (!r.Number(nameLength) || !r.Take(nameLength, name) || !r.Number(size) || !r.Take(size, bytes)) return false;
    TPatchFile file{FromUtf8(name), bytes};
    if (!SafeName(file.Name)) return false;
    for (const TPatchFile& seen : out)
      if (CompareStringOrdinal(seen.Name.c_str(), -1, file.Name.c_str(), -1, TRUE) == CSTR_EQUAL) return false;
    out.push_back(std::move(file));
  }
  if (!r.AtEnd() || out.empty()) return false;
  files = std::move(out);
  return true;
}

bool ApplyPatch(const std::wstring& dir, const std::vector<TPatchFile>& files, std::wstring& failed) {
  failed.clear();
  auto fresh = [&](const TPatchFile& f) { return dir + f.Name + L".new"; };
  auto aside = [&](const TPatchFile& f) { return dir + f.Name + L".old"; };

  // Every new file whole on disk first: a full disk stops the patch here,
  // before anything of the installed program was touched.
  size_t written = 0;
  for (; written < files.size(); ++written) {
    MakeParents(dir, files[written].Name);
    if (!WriteWhole(fresh(files[written]), files[written].Bytes)) break;
  }
  if (written < files.size()) {
    failed = files[written].Name;
    for (size_t i = 0; i < written; ++i) DeleteFileW(fresh(files[i]).c_str());
    return false;
  }

  // Then the swap, remembering which targets existed and were moved aside.
  std::vector<bool> hadOld(files.size(), false);
  size_t swapped = 0;
  for (; swapped < files.size(); ++swapped) {
    const TPatchFile& f = files[swapped];
    const std::wstring target = dir + f.Name;
    if (Exists(target)) {
      if (!Move(target, aside(f))) break;
      hadOld[swapped] = true;
    }
    if (!Move(fresh(f), target)) {
      if (hadOld[swapped]) Move(aside(f), target);
      break;
    }
  }
  if (swapped < files.size()) {
    failed = files[swapped].Name;
    for (size_t i = swapped; i-- > 0;) {
      const std::wstring target = dir + files[i].Name;
      if (hadOld[i])
        Move(aside(files[i]), target);
      else
        DeleteFileW(target.c_str());
    }
    for (const TPatchFile& f : files) DeleteFileW(fresh(f).c_str());
    return false;
  }
  for (size_t i = 0; i < files.size(); ++i)
    if (hadOld[i]) DeleteFileW(aside(files[i]).c_str());
  return true;
}

}  // namespace zelt::patch
