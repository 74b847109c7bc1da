// Whole-file reading and the safe replacement of a small file: the new bytes
// go to a temporary file in the same folder, reach the disk, and only then
// take the old file's place, so a failed save leaves the old file whole.
// Paths are cp1251 text.
#pragma once

#include <string>
#include <string_view>

namespace zelt {

// Files longer than this are read only up to it.
inline constexpr size_t kMaxReadFileSize = size_t{64} << 20;

// The whole file (at most kMaxReadFileSize bytes); false when it cannot be opened or read.
bool ReadFileBytes(const std::string& path, std::string& out);

// Writes `bytes` to path + ".tmp", flushes it to the disk, closes it and
// renames it over `path`, retrying briefly while another program holds the
// file. On failure the temporary file is removed and `path` is untouched.
bool ReplaceFileBytes(const std::string& path, std::string_view bytes);

}  // namespace zelt
