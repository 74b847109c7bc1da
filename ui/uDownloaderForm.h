// The update download window: downloads the package chosen in the update
// information window (the Checker's Tag: 1 the full setup archive, anything
// else the patch), shows the progress, and then leaves the archive where the
// user asked for it, or writes the patch as "sfx.exe" beside the program and
// starts it.
//
// The request's size, end and failure arrive on its thread and are posted to
// the GUI thread; the progress arrives on the GUI thread. Nothing is written
// or started unless the whole body arrived while the window was still open:
// "Отмена", the close button and closing from outside stop the request and
// disown whatever it had already posted.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "net/HTTPDownload.h"
#include "ui/uUpdateInfo.h"
#include "widgets/Controls.h"
#include "widgets/Form.h"

namespace zelt {

class TDownloaderForm final : public TForm {
 public:
  static constexpr int kWidth = 418;
  static constexpr int kHeight = 57;

  // Builds the window hidden and starts the download; for the full setup
  // archive it first asks where to save it (a cancelled dialog closes the
  // window as soon as its modal loop runs, without any request).
  TDownloaderForm(HWND owner, TUpdateEnv env);
  ~TDownloaderForm() override;

  TProgressBar& Progress() { return progress_; }
  TButton& CancelButton() { return cancel_; }
  // The text of the title strip.
  std::string StripTitle() { return Strip().Text(); }
  bool FullSetup() const { return fullSetup_; }
  // Where the package goes; empty when the user cancelled the save dialog.
  const std::string& Target() const { return target_; }
  // The request, or null when none was made.
  HTTPDownload* Download() { return request_.get(); }

 protected:
  void OnCloseButton() override { Cancel(); }

 private:
  void Cancel();
  void SizeKnown(int32_t size);
  void ProgressMade(int32_t done, int32_t total);
  void Downloaded(const std::string& body);
  void Failed();

  TUpdateEnv env_;
  TProgressBar progress_;
  TButton cancel_;
  bool fullSetup_ = false;
  std::string target_;
  std::unique_ptr<HTTPDownload> request_;
  std::shared_ptr<char> alive_;
};

// Writes the whole of `bytes` to `path`, creating or replacing the file.
// A file that cannot be written completely is removed rather than left
// truncated. False when the file could not be written.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace zelt
