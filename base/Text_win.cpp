#include "base/Text_win.h"

#include <windows.h>

namespace zelt {

namespace {
constexpr UINT kCodePage = 1251;
}

std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(kCodePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(kCodePage, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

namespace {
// The cp1251 form, or false when some character has none.
bool NarrowExactly(const std::wstring& w, std::string& out) {
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), nullptr,
                                    0, nullptr, &lossy);
  if (lossy) return false;
  out.assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), out.data(), n,
                      nullptr, &lossy);
  return !lossy;
}

std::wstring ShortPath(const std::wstring& path) {
  const DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring s(n, L'\0');
  const DWORD got = GetShortPathNameW(path.c_str(), s.data(), n);
  if (got == 0 || got >= n) return {};
  s.resize(got);
  return s;
}
}  // namespace

std::string PathText(const std::wstring& path) {
  std::string text;
  if (NarrowExactly(path, text)) return text;
  if (NarrowExactly(ShortPath(path), text) && !text.empty()) return text;
  const size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos) {
    std::string folder, name;
    if (NarrowExactly(ShortPath(path.substr(0, slash)), folder) && !folder.empty() &&
        NarrowExactly(path.substr(slash), name))
      return folder + name;
  }
  return Narrow(path);
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(kCodePage, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(kCodePage, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

}  // namespace zelt
