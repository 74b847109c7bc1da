#include "ui/uDownloaderForm.h"

#include <commdlg.h>

#include <algorithm>

#include "base/SafeFile.h"
#include "base/Text_win.h"
#include "base/Version.h"
#include "core/Traffic.h"
#include "net/UpdateManifest.h"
#include "net/UpdateSignature_win.h"
#include "ui/LaunchUpdate.h"
#include "widgets/Application.h"
#include "widgets/Desktop.h"

namespace zelt {

namespace {
const char* const kTitle = "Загрузка обновления";
const char* const kSetupFileName = "ZeltInformerSetup.zip";
const char* const kManifestSuffix = ".sig";
}  // namespace

TDownloaderForm::TDownloaderForm(HWND owner, TUpdateEnv env)
    : env_(std::move(env)), request_(env_.Http, env_.Gui), manifest_(env_.Http, env_.Gui) {
  CreateForm(kTitle, kTitle, kWidth, kHeight, owner);
  if (owner && IsWindowVisible(owner))
    CentreOn(owner);
  else
    CentreOnScreen();
  // Only "Отмена" and the close button end this window.
  SetEscapeEnabled(false);
  progress_.Create(Body(), 8, 24, 297, 25);
  progress_.SetRange(100);
  cancel_.Create(Body(), 314, 24, 95, 25, "Отмена");
  cancel_.OnClick = [this] { Cancel(); };

  // Fail closed: without a key no package could be checked, so none is fetched.
  if (env_.UpdateKey.empty()) {
    Failed();
    return;
  }
  fullSetup_ = env_.Checker.Tag == 1;
  if (fullSetup_) {
    TFileDialogRequest dialog;
    dialog.Owner = Handle();
    dialog.Title = "Куда сохранить установочный файл?";
    dialog.FileName = kSetupFileName;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    std::string chosen;
    if (!Desktop().ChooseFile(TFileDialogKind::Save, dialog, chosen) || chosen.empty()) {
      PostMessageW(Handle(), WM_CLOSE, 0, 0);
      return;
    }
    url_ = env_.BaseUrl + kUpdateSetupPath;
    target_ = Widen(chosen);
  } else {
    url_ = env_.BaseUrl + kUpdatePatchPath;
  }
  fileName_ = url_.substr(url_.rfind('/') + 1);

  // A package is whole or nothing: a cut-off, overlong or oversized body
  // fails like any other error and is never written.
  TRequestEvents events;
  events.Downloaded = [this](std::string body) { Downloaded(std::move(body)); };
  events.Failed = [this](uint16_t) { Failed(); };
  events.Size = [this](int32_t size) { SizeKnown(size); };
  events.Progress = [this](int32_t done, int32_t total) { ProgressMade(done, total); };
  request_.Start(url_,
                 UpdateRequestOptions(env_.Checker, {.MaxBodyBytes = kPackageLimit,
                                                     .WholeBodyOnly = true,
                                                     .DeadlineMs = kPackageDeadlineMs,
                                                     .DeadlineBytesPerSecond = kPackageBytesPerSecond}),
                 std::move(events));
}

void TDownloaderForm::Cancel() {
  // Whatever the requests posted before they were stopped is dropped.
  request_.Stop();
  manifest_.Stop();
  PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TDownloaderForm::SizeKnown(int32_t size) {
  // A missing length (-1) shows as the unsigned count it wraps to.
  Strip().SetText(std::string(kTitle) + " (" + FormatSize(static_cast<uint32_t>(size), 2) + ")");
}

void TDownloaderForm::ProgressMade(int32_t done, int32_t total) {
  if (total > 0) progress_.SetPosition(static_cast<int>(int64_t{done} * 100 / total));
  progress_.SetText(FormatSize(static_cast<uint32_t>(done), 2));
}

void TDownloaderForm::Downloaded(std::string body) {
  env_.Checker.CountUpdate(static_cast<uint32_t>(body.size()));
  package_ = std::move(body);
  TRequestEvents events;
  events.Downloaded = [this](std::string manifest) { ManifestArrived(manifest); };
  events.Failed = [this](uint16_t) { Failed(); };
  const TRequestLimits limits{.MaxBodyBytes = static_cast<uint32_t>(kMaxManifestBytes),
                              .WholeBodyOnly = true,
                              .DeadlineMs = kRequestDeadlineMs};
  if (!manifest_.Start(url_ + kManifestSuffix, UpdateRequestOptions(env_.Checker, limits), std::move(events)))
    Failed();
}

void TDownloaderForm::ManifestArrived(const std::string& manifest) {
  env_.Checker.CountUpdate(static_cast<uint32_t>(manifest.size()));
  const bool genuine = VerifyUpdatePackage(env_.UpdateKey, manifest, fileName_, package_, build::kVersion);
  std::string body = std::move(package_);
  package_.clear();
  if (genuine)
    Commit(body);
  else
    Failed();
}

void TDownloaderForm::Commit(const std::string& body) {
  // The archive is written beside the target and moved into place only when
  // complete; the patch is staged where nobody else can touch it and read
  // back. A file that cannot be written whole is a failed download, and
  // leaves nothing behind.
  TStagedPatch patch;
  if (fullSetup_ ? !ReplaceFileBytes(target_, body) : !patch.Stage(body)) {
    Failed();
    return;
  }
  cancel_.SetText("Завершено");
  // Started while still held: the bytes that run are those just verified.
  if (!fullSetup_) {
    if (env_.RunPatch)
      env_.RunPatch(patch.Path());
    else if (TApplication* app = TApplication::Instance())
      LaunchUpdate(*app, patch.Path(), env_.Checker.ProgramDir());
  }
  PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TDownloaderForm::Failed() {
  TApplication* app = TApplication::Instance();
  Desktop().Message(app ? app->Handle() : nullptr, "Произошла ошибка при загрузке.", app ? app->Title() : std::string(),
                    MB_OK | MB_SETFOREGROUND);
}

}  // namespace zelt
