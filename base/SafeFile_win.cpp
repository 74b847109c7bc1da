// The file helper on Windows: wide paths, FlushFileBuffers before the
// replacement, and MoveFileExW retried while another program holds the
// file for a moment, and only then.
#include "base/SafeFile.h"

#include <windows.h>

#include <algorithm>

#include "base/ScopedWin.h"

namespace zelt {

namespace {

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

bool ReadFileBytes(const TPathString& path, std::string& out) {
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

bool WriteFileWhole(const TPathString& path, std::string_view bytes) {
  TScopedFile h(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return false;
  bool ok = WriteAll(h.get(), bytes) && ::FlushFileBuffers(h.get());
  // A close that fails may have lost buffered bytes: the file is not whole.
  ok = ::CloseHandle(h.release()) && ok;
  if (!ok) ::DeleteFileW(path.c_str());
  return ok;
}

bool MoveReplacing(const TPathString& from, const TPathString& to, const TReplaceOptions& options) {
  if (options.BeforeMove && !options.BeforeMove(from, to)) return false;
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    // Only a file held open elsewhere is worth waiting for. Any other denial
    // (no right to write) stays so: a save fails at once, the state stays in
    // memory and the next save tries again.
    const DWORD err = ::GetLastError();
    const bool held = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION ||
                      (err == ERROR_ACCESS_DENIED && (options.DeniedMeansHeld || HeldElsewhere(to)));
    if (!held || attempt >= options.Attempts) return false;
    if (options.Wait)
      options.Wait();
    else
      ::Sleep(options.RetryMs);
  }
}

bool ReplaceFileBytes(const TPathString& path, std::string_view bytes, const TReplaceOptions& options) {
  // A file marked read-only is not replaced (Windows refuses the move anyway;
  // Wine would let it through).
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
  const std::wstring temp = path + L".tmp";
  if (!WriteFileWhole(temp, bytes)) return false;
  const bool ok = MoveReplacing(temp, path, options);
  if (!ok) ::DeleteFileW(temp.c_str());
  return ok;
}

}  // namespace zelt
