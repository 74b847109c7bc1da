// The file helper on Windows: wide paths, FlushFileBuffers before the
// replacement, and MoveFileExW retried while another program (a virus
// scanner, a backup tool) holds data.dat for a moment.
#include <windows.h>

#include <algorithm>

#include "core/FileIO.h"
#include "core/Text_win.h"

namespace zelt {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool Close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

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
  Handle h(::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) return false;
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
    Handle h(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) return false;
    ok = WriteAll(h.get(), bytes) && ::FlushFileBuffers(h.get());
    ok = h.Close() && ok;
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
