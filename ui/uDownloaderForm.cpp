#include "ui/uDownloaderForm.h"

#include <commdlg.h>

#include <algorithm>

#include "base/ScopedWin.h"
#include "base/Text_win.h"
#include "core/Traffic.h"
#include "ui/LaunchUpdate.h"
#include "widgets/Application.h"
#include "widgets/FileDialog.h"
#include "widgets/Shell.h"

namespace zelt {

namespace {
const char* const kTitle = "Загрузка обновления";
const char* const kSetupFileName = "ZeltInformerSetup.zip";
}  // namespace

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  const std::wstring wide = Widen(path);
  bool ok = true;
  {
    TScopedFile file(
        CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    size_t done = 0;
    while (ok && done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
      DWORD written = 0;
      ok = WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) && written == chunk;
      done += written;
    }
    ok = CloseHandle(file.release()) && ok;
  }
  // A truncated program must not be left behind to be started.
  if (!ok) DeleteFileW(wide.c_str());
  return ok;
}

TDownloaderForm::TDownloaderForm(HWND owner, TUpdateEnv env)
    : env_(std::move(env)), alive_(std::make_shared<char>()) {
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

  std::string url;
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
    url = env_.BaseUrl + kUpdateSetupPath;
    target_ = chosen;
  } else {
    url = env_.BaseUrl + kUpdatePatchPath;
    target_ = env_.Checker.ProgramDir() + kPatchFileName;
  }

  const std::weak_ptr<char> alive = alive_;
  IGuiQueue* gui = &env_.Gui;
  auto post = [alive, gui](std::function<void()> work) {
    gui->Post([alive, work = std::move(work)] {
      if (alive.lock()) work();
    });
  };
  request_ = std::make_unique<HTTPDownload>(env_.Http, env_.Gui);
  request_->OnDownloaded = [this, post](HTTPDownload&, TMemoryStream& data) {
    post([this, body = data.Bytes] { Downloaded(body); });
  };
  request_->OnError = [this, post](HTTPDownload&, uint16_t) { post([this] { Failed(); }); };
  request_->OnSize = [this, post](HTTPDownload&, int32_t size) { post([this, size] { SizeKnown(size); }); };
  // Already on the GUI thread.
  request_->OnProgress = [this](HTTPDownload&, int32_t done, int32_t total) { ProgressMade(done, total); };
  if (env_.Checker.Loader) CopyLoaderSettings(*env_.Checker.Loader, *request_);
  request_->Start(url);
}

TDownloaderForm::~TDownloaderForm() {
  alive_.reset();
  request_.reset();
}

void TDownloaderForm::Cancel() {
  if (request_) request_->Stop();
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

void TDownloaderForm::Downloaded(const std::string& body) {
  CountUpdateTraffic(env_.Checker, static_cast<uint32_t>(body.size()));
  // A file that cannot be written is not reported: for the patch the start
  // below then reports what the system finds (or does not find).
  WriteWholeFile(target_, body);
  cancel_.SetText("Завершено");
  if (!fullSetup_) {
    if (env_.RunPatch)
      env_.RunPatch();
    else if (TApplication* app = TApplication::Instance())
      LaunchUpdate(env_.Checker.ProgramDir(), app->Handle(), app->Title());
  }
  PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TDownloaderForm::Failed() {
  TApplication* app = TApplication::Instance();
  ShowMessageBox(app ? app->Handle() : nullptr, "Произошла ошибка при загрузке.", app ? app->Title() : std::string(),
                 MB_OK | MB_SETFOREGROUND);
}

}  // namespace zelt
