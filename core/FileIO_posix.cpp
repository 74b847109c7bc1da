// The file helper on POSIX systems (the native build and its tests). The
// Windows build has its own in FileIO_win.cpp.
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/FileIO.h"

namespace zelt {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

// A rename over a file never waits for another program here.
void SetReplaceRetryHook(std::function<void()>) {}

bool ReadFileBytes(const std::filesystem::path& path, std::string& out) {
  out.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  char buf[65536];
  while (out.size() < kMaxReadFileSize) {
    const ssize_t n = ::read(fd.get(), buf, std::min(sizeof buf, kMaxReadFileSize - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return true;
}

bool ReplaceFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  const std::string temp = path.native() + ".tmp";
  bool ok = false;
  {
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) return false;
    ok = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
  }
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace zelt
#endif
