// Reads a run of bytes front to back: little-endian numbers and counted
// byte strings, never past the end (a count from the bytes themselves is
// never trusted beyond what is there).
#pragma once

#include <cstddef>
#include <string_view>

namespace zelt {

class TByteReader {
 public:
  explicit TByteReader(std::string_view in) : in_(in) {}

  // The next `n` bytes; false, with nothing taken, when fewer are left.
  bool Take(size_t n, std::string_view& out) {
    if (in_.size() - pos_ < n) return false;
    out = in_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  // An unsigned number of sizeof(T) bytes, least significant first.
  template <class T>
  bool Number(T& v) {
    std::string_view b;
    if (!Take(sizeof(T), b)) return false;
    v = 0;
    for (size_t i = sizeof(T); i-- > 0;) v = static_cast<T>((v << 8) | static_cast<unsigned char>(b[i]));
    return true;
  }
  bool AtEnd() const { return pos_ == in_.size(); }

 private:
  std::string_view in_;
  size_t pos_ = 0;
};

}  // namespace zelt
