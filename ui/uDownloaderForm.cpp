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
const char* const kSetupFileName = "ZeltInformerSetup.zip";
const char* const kManifestSuffix = ".sig";
}  // namespace

TDownloaderForm::TDownloaderForm(const TWindowContext& context)
    : context_(context),
      choice_(context.Choice),
      request_(context_.Http, context_.App),
      manifest_(context_.Http, context_.App) {
  CreateForm(kTitle, kTitle, kWidth, kHeight, context_.Owner);
  CentreOn(context_.Owner);
  // Only "Отмена" and the close button end this window.
  SetEscapeEnabled(false);
  progress_.Create(Body(), 8, 24, 297, 25);
  progress_.SetRange(100);
  cancel_.Create(Body(), 314, 24, 95, 25, "Отмена");
  cancel_.OnClick = [this] { Cancel(); };

  // Fail closed: without a key no package could be checked, so none is fetched.
  if (context_.UpdateKey.empty()) {
    Failed();
    return;
  }
  if (choice_ == TUpdateChoice::FullSetup) {
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
    url_ = context_.UpdateUrl + kUpdateSetupPath;
    target_ = Widen(chosen);
  } else {
    url_ = context_.UpdateUrl + kUpdatePatchPath;
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
                 UpdateRequestOptions(context_.Checker, {.MaxBodyBytes = kPackageLimit,
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
  context_.Checker.CountUpdate(static_cast<uint32_t>(body.size()));
  package_ = std::move(body);
  TRequestEvents events;
  events.Downloaded = [this](std::string manifest) { ManifestArrived(manifest); };
  events.Failed = [this](uint16_t) { Failed(); };
  const TRequestLimits limits{.MaxBodyBytes = static_cast<uint32_t>(kMaxManifestBytes),
                              .WholeBodyOnly = true,
                              .DeadlineMs = kRequestDeadlineMs};
  if (!manifest_.Start(url_ + kManifestSuffix, UpdateRequestOptions(context_.Checker, limits), std::move(events)))
    Failed();
}

void TDownloaderForm::ManifestArrived(const std::string& manifest) {
  context_.Checker.CountUpdate(static_cast<uint32_t>(manifest.size()));
  const bool genuine = VerifyUpdatePackage(context_.UpdateKey, manifest, fileName_, package_, build::kVersion);
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
  const bool fullSetup = choice_ == TUpdateChoice::FullSetup;
  TStagedPatch patch;
  if (fullSetup ? !ReplaceFileBytes(target_, body) : !patch.Stage(body)) {
    Failed();
    return;
  }
  cancel_.SetText("Завершено");
  // Started while still held: the bytes that run are those just verified.
  if (!fullSetup) LaunchUpdate(context_.App, patch.Path(), context_.Checker.ProgramDir());
  PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TDownloaderForm::Failed() {
  TApplication& app = context_.App;
  app.Desktop().Message(app.Owner(), "Произошла ошибка при загрузке.", app.Title(), MB_OK | MB_SETFOREGROUND);
}

}  // namespace zelt
