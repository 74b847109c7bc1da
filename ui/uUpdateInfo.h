// The update information window: fetches the new version's description and
// the sizes of the two packages from the update server, shows the
// description and lets the user choose the full setup archive or the patch.
// "Загрузить" hands the choice to the update download window through the
// Checker's Tag (1 full setup, 0 patch).
//
// The three requests' answers are applied on the GUI thread (TGuiRequest),
// so they are counted one at a time and the completion step runs exactly once
// whatever their order. Destroying the window stops its requests: nothing of
// them reaches it afterwards.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/uChecker.h"
#include "net/GuiRequest.h"
#include "widgets/Button.h"
#include "widgets/CheckBox.h"
#include "widgets/Form.h"
#include "widgets/RichEdit.h"

namespace zelt {

// What the two update windows need from the program around them.
struct TUpdateEnv {
  TChecker& Checker;     // Tag, the Loader's agent and proxy, the traffic counters, ProgramDir
  SharedTransport Http;  // the transport of every request
  IGuiQueue& Gui;        // where the requests' answers are applied
  std::string BaseUrl;   // scheme and host of the update server, no trailing "/"
  // Opens the update download window modally (ShowDialog 7 of the main window).
  std::function<void()> OpenDownload;
  // Starts the downloaded patch staged at the path (LaunchUpdate of the main
  // window).
  std::function<void(const std::filesystem::path& patch)> RunPatch;
  // The raw public key (X then Y) that manifests must be signed with; empty
  // when this build has none, and then offers no download.
  std::string UpdateKey;
};

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
  static constexpr int kWidth = 394;
  static constexpr int kHeight = 317;
  enum Request { rqDescription = 0, rqSetup = 1, rqPatch = 2 };

  // Builds the window hidden and starts the three requests; without an
  // update key it starts none and says why nothing is offered.
  TUpdateInfo(HWND owner, TUpdateEnv env);

  TRichEdit& Description() { return description_; }
  TChoiceButton& SetupChoice() { return setup_; }
  TChoiceButton& PatchChoice() { return patch_; }
  TButton& DownloadButton() { return download_; }
  TButton& CancelButton() { return cancel_; }
  // Answers counted so far: the description and the two sizes.
  int32_t Answers() const { return answers_; }

 private:
  void DescriptionArrived(std::string body);
  void SizeArrived(Request which, int32_t size);
  void RequestFailed(uint16_t code);
  void Complete();
  void StartDownload();

  TUpdateEnv env_;
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
