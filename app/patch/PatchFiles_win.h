// The files a patch carries and how it puts them in place, whole or not at
// all, even across a crash.
//
// The payload is one resource of the patch: "ZPAYLOAD" and a count, then per
// file a 16-bit name length, the name (UTF-8, a relative path with
// backslashes) and a 32-bit size with the bytes (little-endian numbers).
//
// The swap keeps a journal beside the files (kJournalFileName): the
// phase ("write" while the new files are written beside the old ones as
// "<name>.new", "forward" once they all are whole on disk, "back" after a
// failure) and, per file, whether an installed one was there. In the swap
// each file moves through three states: old in place and ".new" beside it;
// old set aside as "<name>.old"; new in place. Forward and back are each
// other's inverse from any of them, and the ".new" or ".old" files go only
// once a direction is complete, so an interrupted patch is finished or
// undone from the journal at the next start of the patch or of the program.
// data.dat is the user's and never part of a patch.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/SafeFile.h"
#include "base/ScopedWin.h"
#include "net/UpdateManifest.h"

namespace zelt::patch {

struct TPatchFile {
  std::wstring Name;       // relative to the program's folder
  std::string_view Bytes;  // inside the payload
};

// Splits a payload; false (and nothing in `files`) when it is malformed: a
// bad header, a count or size beyond its end, trailing bytes, or any name
// that is not a plain relative path (see SafeName), or that names the same
// file as another entry.
bool ParsePayload(std::string_view payload, std::vector<TPatchFile>& files);

// A name as Windows resolves it could be something other than it reads:
// refused are the empty name, absolute ones ("\x", "C:x"), streams (':'),
// climbs ("..", "."), empty steps, '/', bytes below 32 and <>"|?*, steps
// ending in a dot or a space (which Windows drops), '~' (an 8.3 short name
// stands for another name), device names (CON, NUL.txt, COM1...), data.dat,
// the journal (and its ".tmp"), and names ending in ".new" or ".old" (the
// swap's own).
bool SafeName(const std::wstring& name);

// How the swap moves a file: a file that the program (or a scanner) has
// only just let go of may still be held, or denied, for a few seconds.
inline TReplaceOptions SwapMoves() { return {.Attempts = 50, .RetryMs = 100, .DeniedMeansHeld = true}; }

enum class TPatchResult {
  Applied,     // every file in place
  RolledBack,  // none: the installed files are as they were
  Broken,      // some installed files could not be put back (see `left`)
};

// Replaces the files in `dir` (ending in a backslash), each moved as
// `moves` say. `failed` names the file that could not be replaced; `left`
// lists, joined by ", ", the files that could not be put back.
TPatchResult ApplyPatch(const std::wstring& dir, const std::vector<TPatchFile>& files, std::wstring& failed,
                        std::wstring& left, const TReplaceOptions& moves = SwapMoves());

// The file version in the version resource of the program at `exe`, read as
// data (nothing of it runs); false when it has none.
bool InstalledVersion(const std::wstring& exe, TVersion& version);

enum class TRecovery { Nothing, Finished, RolledBack, Broken };

// Finishes a swap that a crash interrupted in `dir`, or undoes it when it
// cannot be finished. Broken, with `left` naming what is not back, when
// neither works (the journal stays for the next try) or the journal cannot
// be read.
TRecovery RecoverPatch(const std::wstring& dir, std::wstring& left, const TReplaceOptions& moves = SwapMoves());

// The one swap at a time in this session: a patch holds it from start to
// end; the program's start takes it only when it is free.
class TPatchLock {
 public:
  explicit TPatchLock(DWORD waitMs);
  ~TPatchLock();
  TPatchLock(const TPatchLock&) = delete;
  TPatchLock& operator=(const TPatchLock&) = delete;
  bool Held() const { return held_; }

 private:
  TScopedHandle mutex_;
  bool held_ = false;
};

}  // namespace zelt::patch
