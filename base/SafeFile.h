// Whole-file reading and the safe replacement of a file, for the program
// (data.dat, a downloaded setup) and the patch (its files and journal): the
// new bytes reach the disk under another name first and only then take the
// old file's place, so a failed save leaves the old file whole.
// Paths are the system's own (UTF-16 on Windows), whatever the folder's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/Path.h"

namespace zelt {

// Files longer than this are read only up to it.
inline constexpr size_t kMaxReadFileSize = size_t{64} << 20;

// How a move waits for a file that another program holds open for a moment
// (a virus scanner, a backup tool, the program the patch has just ended).
// Only Windows waits: elsewhere a rename is never refused for that.
struct TReplaceOptions {
  int Attempts = 10;
  uint32_t RetryMs = 50;
  // Access denied counts as held without asking. A replacement is denied
  // both for a file held open elsewhere and for one that may not be written
  // at all; by default the two are told apart and only the first is waited
  // for. The patch waits for both: a program's file it has just ended may
  // stay denied for a moment.
  bool DeniedMeansHeld = false;
  // Tests: called instead of the wait before each retry.
  std::function<void()> Wait;
  // Tests: called once before each move; false fails the move at once.
  std::function<bool(const TPathString& from, const TPathString& to)> BeforeMove;
};

// The whole file (at most kMaxReadFileSize bytes); false when it cannot be
// opened or read.
bool ReadFileBytes(const TPathString& path, std::string& out);

// Creates `path` anew (no other program may open it meanwhile) with exactly
// `bytes`, flushed to the disk and closed. On failure the file is deleted.
bool WriteFileWhole(const TPathString& path, std::string_view bytes);

// Renames `from` over `to`, retrying as `options` say while `to` or `from`
// is held elsewhere.
bool MoveReplacing(const TPathString& from, const TPathString& to, const TReplaceOptions& options = {});

// Writes `bytes` whole to path + ".tmp" and moves it over `path`. A file
// that may not be written at all, such as a read-only one, fails at once. On
// failure the temporary file is removed and `path` is untouched.
bool ReplaceFileBytes(const TPathString& path, std::string_view bytes, const TReplaceOptions& options = {});

}  // namespace zelt
