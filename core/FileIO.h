// Whole-file reading and the safe replacement of a small file: the new bytes
// go to a temporary file in the same folder, reach the disk, and only then
// take the old file's place, so a failed save leaves the old file whole.
// Paths are the system's own (UTF-16 on Windows), whatever the folder's name.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace zelt {

// Files longer than this are read only up to it.
inline constexpr size_t kMaxReadFileSize = size_t{64} << 20;

// The whole file (at most kMaxReadFileSize bytes); false when it cannot be opened or read.
bool ReadFileBytes(const std::filesystem::path& path, std::string& out);

// Writes `bytes` to path + ".tmp", flushes it to the disk, closes it and
// renames it over `path`, retrying briefly while another program holds the
// file open (a sharing or lock violation; a file that may not be written at
// all, such as a read-only one, fails at once). On failure the temporary file
// is removed and `path` is untouched.
bool ReplaceFileBytes(const std::filesystem::path& path, std::string_view bytes);

// Tests: called instead of the short wait before each retry of the
// replacement (an empty function restores the wait).
void SetReplaceRetryHook(std::function<void()> hook);

}  // namespace zelt
