// The system's file-open and file-save dialogs behind one replaceable
// function, so tests observe the request and answer it instead of a person.
// Texts and paths are cp1251; the dialogs run through the W functions.
//
//   TFileDialogRequest r;
//   r.Owner = Handle();
//   r.Filters = {{"*.ogg, *.wav", "*.ogg;*.wav"}, {"*.*", "*.*"}};
//   r.InitialDir = dir;
//   r.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
//   std::string path;
//   if (OpenFileDialog(r, path)) ...
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zelt {

enum class FileDialogKind { Open, Save };

struct TFileDialogRequest {
  HWND Owner = nullptr;
  // Description and pattern of each file type, in the order shown.
  std::vector<std::pair<std::string, std::string>> Filters;
  std::string InitialDir;
  std::string FileName;    // the name the dialog starts with
  std::string DefaultExt;  // appended when the user types none (no dot)
  std::string Title;       // empty: the system's title
  DWORD Flags = 0;         // OFN_* flags
};

// Shows the dialog; true with the chosen full path when the user chose a
// file, false when they cancelled (or the dialog could not be shown).
using FileDialogFn = std::function<bool(FileDialogKind kind, const TFileDialogRequest& request, std::string& path)>;

bool OpenFileDialog(const TFileDialogRequest& request, std::string& path);
bool SaveFileDialog(const TFileDialogRequest& request, std::string& path);

// Replace for tests; an empty function restores the system's dialogs.
void SetFileDialogHook(FileDialogFn fn);

}  // namespace zelt
