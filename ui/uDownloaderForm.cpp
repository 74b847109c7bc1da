#include "ui/uDownloaderForm.h"

#include <commdlg.h>

#include <algorithm>

#include "base/Text_win.h"
#include "base/Version.h"
#include "core/FileIO.h"
#include "core/Traffic.h"
#include "net/UpdateManifest.h"
#include "net/UpdateSignature_win.h"
#include "ui/LaunchUpdate.h"
#include "widgets/Application.h"
#include "widgets/FileDialog.h"
#include "widgets/Shell.h"

namespace zelt {

namespace {
const char* const kTitle = "Загрузка обновления";
const char* const kSetupFileName = "ZeltInformerSetup.zip";
const char* const kManifestSuffix = ".sig";
}  // namespace

TDownloaderForm::TDownloaderForm(HWND owner, TUpdateEnv env)
    : env_(std::move(env)), alive_(std::make_shared<char>()) {
  // Made once, before any request exists, and only read by their threads.
  post_ = [alive = std::weak_ptr<char>(alive_), gui = &env_.Gui](std::function<void()> work) {
    gui->Post([alive, work = std::move(work)] {
      if (alive.lock()) work();
    });
  };
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
    if (!SaveFileDialog(dialog, chosen) || chosen.empty()) {
      PostMessageW(Handle(), WM_CLOSE, 0, 0);
      return;
    }
    url_ = env_.BaseUrl + kUpdateSetupPath;
    target_ = Widen(chosen);
  } else {
    url_ = env_.BaseUrl + kUpdatePatchPath;
  }
  fileName_ = url_.substr(url_.rfind('/') + 1);

  request_ = MakeRequest(kPackageLimit);
  request_->DeadlineMs = kPackageDeadlineMs;
  request_->DeadlineBytesPerSecond = kPackageBytesPerSecond;
  request_->OnDownloaded = [this](HTTPDownload&, TMemoryStream& data) {
    post_([this, body = data.Bytes]() mutable { Downloaded(std::move(body)); });
  };
  request_->OnSize = [this](HTTPDownload&, int32_t size) { post_([this, size] { SizeKnown(size); }); };
  // Already on the GUI thread.
  request_->OnProgress = [this](HTTPDownload&, int32_t done, int32_t total) { ProgressMade(done, total); };
  request_->Start(url_);
}

std::unique_ptr<HTTPDownload> TDownloaderForm::MakeRequest(uint32_t limit) {
  auto request = std::make_unique<HTTPDownload>(env_.Http, env_.Gui);
  // A package is whole or nothing: a cut-off, overlong or oversized body
  // fails like any other error and is never written.
  request->MaxBodyBytes = limit;
  request->WholeBodyOnly = true;
  request->DeadlineMs = kRequestDeadlineMs;
  request->OnError = [this](HTTPDownload&, uint16_t) { post_([this] { Failed(); }); };
  CopyLoaderSettings(env_.Checker.Loader(), *request);
  return request;
}

TDownloaderForm::~TDownloaderForm() {
  alive_.reset();
  request_.reset();
  manifest_.reset();
}

void TDownloaderForm::Cancel() {
  if (request_) request_->Stop();
  if (manifest_) manifest_->Stop();
  // Whatever the request posted before it was stopped is dropped from here on.
  alive_.reset();
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
  manifest_ = MakeRequest(static_cast<uint32_t>(kMaxManifestBytes));
  manifest_->OnDownloaded = [this](HTTPDownload&, TMemoryStream& data) {
    post_([this, manifest = data.Bytes] { ManifestArrived(manifest); });
  };
  if (!manifest_->Start(url_ + kManifestSuffix)) Failed();
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
      LaunchUpdate(patch.Path(), env_.Checker.ProgramDir(), app->Handle(), app->Title());
  }
  PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TDownloaderForm::Failed() {
  TApplication* app = TApplication::Instance();
  ShowMessageBox(app ? app->Handle() : nullptr, "Произошла ошибка при загрузке.", app ? app->Title() : std::string(),
                 MB_OK | MB_SETFOREGROUND);
}

}  // namespace zelt
