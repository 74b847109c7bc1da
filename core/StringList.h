// An ordered list of 8-bit strings that converts to a text with CR LF after
// every line, and back (CR LF or a CR alone ends a line).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelt {

class TStringList {
 public:
  size_t Count() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }
  const std::string& operator[](size_t i) const { return lines_[i]; }
  std::string& operator[](size_t i) { return lines_[i]; }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Delete(size_t i) { lines_.erase(lines_.begin() + static_cast<long>(i)); }
  void Clear() { lines_.clear(); }
  // Index of the first line equal to s, or -1.
  int IndexOf(const std::string& s) const {
    for (size_t i = 0; i < lines_.size(); ++i)
      if (lines_[i] == s) return static_cast<int>(i);
    return -1;
  }
  const std::vector<std::string>& Lines() const { return lines_; }

  // Every line followed by CR LF.
  std::string Text() const {
    std::string t;
    for (const auto& l : lines_) {
      t += l;
      t += "\r\n";
    }
    return t;
  }
  // Replaces the content by the lines of t; a final line without a line end
  // counts, an empty text gives no lines. An LF alone does not end a line.
  void SetText(std::string_view t) {
    lines_.clear();
    size_t start = 0;
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] == '\r') {
        lines_.emplace_back(t.substr(start, i - start));
        if (i + 1 < t.size() && t[i + 1] == '\n') ++i;
        start = i + 1;
      }
    }
    if (start < t.size()) lines_.emplace_back(t.substr(start));
  }

 private:
  std::vector<std::string> lines_;
};

}  // namespace zelt
