// The desktop outside the program's own windows: the shell's "open" verb
// (browser, help file), the message box, the file-open and file-save
// dialogs, and starting a program file (the staged patch). The application
// object holds one, which every form reaches (TForm::Desktop): the program
// gives it the system's, tests a fake that records each call and answers it
// instead of a person. Texts and paths are cp1251 unless said otherwise.
//
//   TFileDialogRequest r;
//   r.Owner = Handle();
//   r.Filters = {{"*.ogg, *.wav", "*.ogg;*.wav"}, {"*.*", "*.*"}};
//   r.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
//   std::string path;
//   if (Desktop().ChooseFile(TFileDialogKind::Open, r, path)) ...
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <utility>
#include <vector>

namespace zelt {

enum class TFileDialogKind { Open, Save };

struct TFileDialogRequest {
  HWND Owner = nullptr;
  // Description and pattern of each file type, in the order shown.
  std::vector<std::pair<std::string, std::string>> Filters;
  std::string InitialDir;
  std::string FileName;  // the name the dialog starts with
  std::string Title;     // empty: the system's title
  DWORD Flags = 0;       // OFN_* flags
};

class IDesktop {
 public:
  virtual ~IDesktop() = default;
  // ShellExecute with the verb "open", no parameters, no directory, normal
  // window. A failure is not reported: the user simply sees nothing open.
  virtual void Open(HWND owner, const std::string& document) = 0;
  // The same for a file of the program's own, by its path as the system has it.
  virtual void OpenFile(HWND owner, const std::wstring& path) = 0;
  // A message box; returns the button chosen (IDOK, ...).
  virtual int Message(HWND owner, const std::string& text, const std::string& caption, UINT flags) = 0;
  // Shows the dialog: true with the chosen full path when the user chose a
  // file, false when they cancelled (or the dialog could not be shown).
  virtual bool ChooseFile(TFileDialogKind kind, const TFileDialogRequest& request, std::string& path) = 0;
  // ShellExecuteEx: true with info.hProcess filled; false with the thread's
  // last error set to the reason.
  virtual bool Start(SHELLEXECUTEINFOW& info) = 0;
};

// The system's desktop, through the W functions.
class TSystemDesktop final : public IDesktop {
 public:
  void Open(HWND owner, const std::string& document) override;
  void OpenFile(HWND owner, const std::wstring& path) override;
  int Message(HWND owner, const std::string& text, const std::string& caption, UINT flags) override;
  bool ChooseFile(TFileDialogKind kind, const TFileDialogRequest& request, std::string& path) override;
  bool Start(SHELLEXECUTEINFOW& info) override;
};

}  // namespace zelt
