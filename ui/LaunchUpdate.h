// Starting the downloaded patch. The verified bytes are the bytes that run:
// the patch is written as "sfx.exe" into a folder of its own under the
// user's temporary folder (no other account can reach it), then held open
// so that nobody can change, replace or delete it, read back and compared,
// and started from that exact path while it is still held. The patch is
// told the program's folder; the program neither waits for it nor ends.
// The shell call and the report of its failure go through the application's
// desktop, so tests observe the request (and can answer it) without
// starting anything.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>

#include "base/ProductNames.h"

namespace zelt {

class TApplication;

// A downloaded patch on disk, held against writing and deleting while this
// lives; the file stays when it goes (the patch is running from it).
class TStagedPatch {
 public:
  TStagedPatch() = default;
  ~TStagedPatch();
  TStagedPatch(const TStagedPatch&) = delete;
  TStagedPatch& operator=(const TStagedPatch&) = delete;

  // Writes `bytes` into a new folder of the temporary folder, holds the file
  // and reads it back: true only when what is held is `bytes`. On failure
  // nothing is left behind.
  bool Stage(std::string_view bytes) { return Write(bytes) && Hold(bytes); }
  // Its two halves: the file written through a handle nobody may share;
  // then held by one that lets others only read (the system, to start it)
  // and read back through it, which catches whatever changed it in between.
  bool Write(std::string_view bytes);
  bool Hold(std::string_view bytes);
  const std::wstring& Path() const { return path_; }

 private:
  void Discard();
  std::wstring path_;
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

// Starts the patch at `patch` through the application's desktop with the
// verb "open", shown normally, owned by the active window, and the program's
// folder as its one argument. A failure is reported in a message box owned
// by the application window, brought to the foreground, titled with the
// application's title, with the system's text for the error. Returns
// whether the patch was started.
bool LaunchUpdate(TApplication& app, const std::wstring& patch, const std::wstring& programDir);

// Deletes the staged patches of earlier updates that have ended (one still
// running cannot be deleted and stays for the next time).
void RemoveStagedPatches();

// The system's message for an error code (cp1251), with trailing blanks and
// line ends removed.
std::string SystemErrorText(DWORD code);

}  // namespace zelt
