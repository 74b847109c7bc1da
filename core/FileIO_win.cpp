// The file helper on Windows: wide paths, FlushFileBuffers before the
// replacement, and MoveFileExW retried while another program (a virus
// scanner, a backup tool) holds data.dat for a moment, and only then.
#include <windows.h>

#include <algorithm>

#include "core/FileIO.h"
#include "base/ScopedWin.h"

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

std::function<void()> g_retryHook;

// Whether another program holds the file open. A replacement then fails with
// access denied, as it does for a file that may not be written at all: the
// two are told apart by opening the file for deletion with every kind of
// sharing allowed, which only a holder's sharing mode refuses.
bool HeldElsewhere(const std::wstring& path) {
  TScopedFile h(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !h && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

void SetReplaceRetryHook(std::function<void()> hook) { g_retryHook = std::move(hook); }

bool ReadFileBytes(const std::filesystem::path& path, std::string& out) {
  out.clear();
  TScopedFile h(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

bool ReplaceFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  const std::wstring target = path.native();
  const std::wstring temp = target + L".tmp";
  // A file marked read-only is not replaced (Windows refuses the rename below
  // anyway; Wine would let it through).
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
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
      // Only a file held open elsewhere is worth waiting for. Any other
      // denial (no right to write) stays so: the save fails at once, the
      // state stays in memory and the next save tries again.
      const DWORD err = ::GetLastError();
      const bool held = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION ||
                        (err == ERROR_ACCESS_DENIED && HeldElsewhere(target));
      if (!held || attempt == kMoveAttempts) break;
      if (g_retryHook)
        g_retryHook();
      else
        ::Sleep(kMoveRetryMs);
    }
  }
  if (!ok) ::DeleteFileW(temp.c_str());
  return ok;
}

}  // namespace zelt
