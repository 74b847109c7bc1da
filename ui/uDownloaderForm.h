// The update download window: downloads the package chosen in the update
// information window (the context's Choice), shows the progress, and then leaves the archive where the
// user asked for it, or stages the patch as "sfx.exe" in a folder of its own
// and starts it (ui/LaunchUpdate.h).
//
// A package is taken only whole and only with its signed manifest
// ("<package>.sig" from the same folder): the signature must hold under the
// build's update key, and the manifest must name the file asked for, a
// version newer than the program's own, and the body's size and SHA-256,
// before anything is written. Without a key nothing is downloaded at all.
// The archive is written beside its target and put in place only when
// complete. Every failure shows "Произошла ошибка при загрузке."
//
// The requests' answers are applied on the GUI thread (TGuiRequest). Nothing
// is written or started unless the whole body arrived while the window was
// still open: "Отмена", the close button and closing from outside stop the
// requests, and nothing of them reaches the window afterwards.
#pragma once

#include <windows.h>

#include <string>

#include "net/GuiRequest.h"
#include "ui/WindowContext.h"
#include "ui/uUpdateInfo.h"
#include "widgets/Button.h"
#include "widgets/Form.h"
#include "widgets/ProgressBar.h"

namespace zelt {

class TDownloaderForm final : public TForm {
 public:
  static constexpr const char* kTitle = "Загрузка обновления";
  static constexpr int kWidth = 418;
  static constexpr int kHeight = 57;
  // The largest package taken.
  static constexpr uint32_t kPackageLimit = 64u << 20;
  // A package may take as long as its size at 2 KiB/s (slower than any
  // link still in use: a 64 MiB package gets 9 hours), and two minutes at
  // least (a connection and a first answer may each take WinInet's 30 s).
  static constexpr uint32_t kPackageBytesPerSecond = 2048;
  static constexpr uint32_t kPackageDeadlineMs = 120000;

  // Builds the window hidden and starts the download; for the full setup
  // archive it first asks where to save it (a cancelled dialog closes the
  // window as soon as its modal loop runs, without any request).
  explicit TDownloaderForm(const TWindowContext& context);

  TProgressBar& Progress() { return progress_; }
  TButton& CancelButton() { return cancel_; }
  // The text of the title strip.
  std::string StripTitle() { return Strip().Text(); }
  // The package's request.
  const TGuiRequest& Download() const { return request_; }

 protected:
  void OnCloseButton() override { Cancel(); }

 private:
  void Cancel();
  void SizeKnown(int32_t size);
  void ProgressMade(int32_t done, int32_t total);
  void Downloaded(std::string body);
  void ManifestArrived(const std::string& manifest);
  void Commit(const std::string& body);
  void Failed();

  TWindowContext context_;
  TProgressBar progress_;
  TButton cancel_;
  TUpdateChoice choice_;
  std::wstring target_;  // where the full setup archive goes
  std::string url_;
  std::string fileName_;  // the package's name on the server
  TGuiRequest request_;
  TGuiRequest manifest_;
  std::string package_;  // the body, kept while its manifest is fetched
};

}  // namespace zelt
