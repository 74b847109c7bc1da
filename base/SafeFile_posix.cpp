// The file helper on POSIX systems (the native build and its tests). The
// Windows build has its own in SafeFile_win.cpp.
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "base/SafeFile.h"

namespace zelt {

namespace {

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
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

bool ReadFileBytes(const TPathString& path, std::string& out) {
  out.clear();
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

bool WriteFileWhole(const TPathString& path, std::string_view bytes) {
  bool ok = false;
  {
    TFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) return false;
    ok = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
  }
  if (!ok) ::unlink(path.c_str());
  return ok;
}

// A rename over a file never waits for another program here.
bool MoveReplacing(const TPathString& from, const TPathString& to, const TReplaceOptions& options) {
  if (options.BeforeMove && !options.BeforeMove(from, to)) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool ReplaceFileBytes(const TPathString& path, std::string_view bytes, const TReplaceOptions& options) {
  const std::string temp = path + ".tmp";
  if (!WriteFileWhole(temp, bytes)) return false;
  const bool ok = MoveReplacing(temp, path, options);
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace zelt
#endif
