// The update information window: fetches the new version's description and
// the sizes of the two packages from the update server, shows the
// description and lets the user choose the full setup archive or the patch.
// "Загрузить" hands the choice to the update download window (the context's
// OpenDownload).
//
// The three requests' answers are applied on the GUI thread (TGuiRequest),
// so they are counted one at a time and the completion step runs exactly once
// whatever their order. Destroying the window stops its requests: nothing of
// them reaches it afterwards.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "core/uChecker.h"
#include "net/GuiRequest.h"
#include "ui/WindowContext.h"
#include "widgets/Button.h"
#include "widgets/CheckBox.h"
#include "widgets/Form.h"
#include "widgets/RichEdit.h"

namespace zelt {

// The update server's paths below its base URL.
inline constexpr const char* kUpdateInfoPath = "/ZeltInformer/info.rtf";
inline constexpr const char* kUpdateSetupPath = "/ZeltInformer/ZeltInformerSetup.zip";
inline constexpr const char* kUpdatePatchPath = "/ZeltInformer/files.zip";
// The largest update description taken from the server.
inline constexpr uint32_t kMaxDescriptionBytes = 1u << 20;

// The options of a request to the update server: the agent and proxy of the
// checker's own requests, with this request's limits.
TRequestOptions UpdateRequestOptions(const TChecker& checker, const TRequestLimits& limits);

class TUpdateInfo final : public TForm {
 public:
  static constexpr const char* kTitle = "Информация об обновлении";
  static constexpr int kWidth = 394;
  static constexpr int kHeight = 317;
  // The three files asked for, by index.
  enum class File : size_t { Description, Setup, Patch };

  // Builds the window hidden and starts the three requests; without an
  // update key it starts none and says why nothing is offered.
  explicit TUpdateInfo(const TWindowContext& context);

  TRichEdit& Description() { return description_; }
  TChoiceButton& SetupChoice() { return setup_; }
  TChoiceButton& PatchChoice() { return patch_; }
  TButton& DownloadButton() { return download_; }
  TButton& CancelButton() { return cancel_; }
  // Answers counted so far: the description and the two sizes.
  int32_t Answers() const { return answers_; }

 private:
  void DescriptionArrived(std::string body);
  void SizeArrived(File which, int32_t size);
  void RequestFailed(uint16_t code);
  void Complete();
  void StartDownload();

  TWindowContext context_;
  TRichEdit description_;
  TChoiceButton setup_, patch_;
  TButton download_, cancel_;
  std::array<TGuiRequest, 3> requests_;
  int32_t answers_ = 0;
  std::string descriptionText_;
  // The size each size request reported, and whether its server announced
  // an empty file ("Content-Length: 0"), which offers nothing.
  std::array<int32_t, 3> sizes_{};
  std::array<bool, 3> announcedEmpty_{};
  bool failed_ = false;
};

}  // namespace zelt
