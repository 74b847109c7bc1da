// The file helper on Windows: wide paths, FlushFileBuffers before the
// replacement, and MoveFileExW retried while another program (a virus
// scanner, a backup tool) holds data.dat for a moment.
#include <windows.h>

#include <algorithm>

#include "core/FileIO.h"
#include "base/ScopedWin.h"
#include "base/Text_win.h"

namespace zelt {

namespace {

constexpr int kMoveAttempts = 10;
constexpr DWORD kMoveRetryMs = 50;

bool WriteAll(HANDLE h, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::string& out) {
  out.clear();
  TScopedFile h(::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return false;
  char buf[65536];
  while (out.size() < kMaxReadFileSize) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min(sizeof buf, kMaxReadFileSize - out.size()));
    if (!::ReadFile(h.get(), buf, want, &n, nullptr)) return false;
    if (n == 0) break;
    out.append(buf, n);
  }
  return true;
}

bool ReplaceFileBytes(const std::string& path, std::string_view bytes) {
  const std::wstring target = Widen(path);
  const std::wstring temp = Widen(path + ".tmp");
  bool ok = false;
  {
    TScopedFile h(
        ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return false;
    ok = WriteAll(h.get(), bytes) && ::FlushFileBuffers(h.get());
    // A close that fails may have lost buffered bytes: the file is not whole.
    ok = ::CloseHandle(h.release()) && ok;
  }
  if (ok) {
    ok = false;
    for (int attempt = 1; attempt <= kMoveAttempts; ++attempt) {
      if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = true;
        break;
      }
      const DWORD err = ::GetLastError();
      const bool held = err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED || err == ERROR_LOCK_VIOLATION;
      if (!held || attempt == kMoveAttempts) break;
      ::Sleep(kMoveRetryMs);
    }
  }
  if (!ok) ::DeleteFileW(temp.c_str());
  return ok;
}

}  // namespace zelt
