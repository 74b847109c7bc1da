#include "ui/uUpdateInfo.h"

#include <cctype>

#include "core/Traffic.h"
#include "widgets/Application.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {

const char* const kWaitText = "Подождите...";
const char* const kSetupText = "Загрузить полный установочный файл";
const char* const kPatchText = "Загрузить только файл - патч";
const char* const kNoKeyText =
    "Не могу проверить подлинность обновления: в этой сборке нет ключа.\r\nЗагрузка обновления отключена.";

// True when the response headers announce an empty body ("Content-Length: 0").
bool AnnouncesEmptyBody(const std::vector<std::string>& headers) {
  static const std::string kName = "content-length:";
  for (const std::string& line : headers) {
    if (line.size() < kName.size()) continue;
    bool match = true;
    for (size_t i = 0; i < kName.size() && match; ++i)
      match = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i]))) == kName[i];
    if (!match) continue;
    const size_t first = line.find_first_not_of(" \t", kName.size());
    if (first == std::string::npos) return false;
    const size_t last = line.find_last_not_of(" \t");
    const std::string value = line.substr(first, last - first + 1);
    return value.find_first_not_of('0') == std::string::npos;
  }
  return false;
}

}  // namespace

TRequestOptions UpdateRequestOptions(const TChecker& checker, const TRequestLimits& limits) {
  return checker.RequestOptions().With(limits);
}

// --- TUpdateInfo ---

TUpdateInfo::TUpdateInfo(const TWindowContext& context)
    : context_(context),
      requests_{{{context_.Http, context_.App}, {context_.Http, context_.App}, {context_.Http, context_.App}}} {
  CreateForm(kTitle, kTitle, kWidth, kHeight, context_.Owner);
  CentreOn(context_.Owner);

  description_.Create(Body(), 8, 24, 377, 217);
  description_.SetAccessibleName(kTitle);
  description_.SetPlainText(kWaitText);
  setup_.Create(Body(), 8, 245, 377, 16, kSetupText);
  patch_.Create(Body(), 8, 261, 377, 16, kPatchText);
  for (TChoiceButton* choice : {&setup_, &patch_}) {
    choice->SetColour(palette::kNavy);
    choice->SetEnabled(false);
  }
  setup_.OnClick = [this] {
    setup_.SetChecked(true);
    patch_.SetChecked(false);
  };
  patch_.OnClick = [this] {
    patch_.SetChecked(true);
    setup_.SetChecked(false);
  };
  download_.Create(Body(), 8, 285, 97, 25, "Загрузить");
  download_.SetEnabled(false);
  download_.OnClick = [this] { StartDownload(); };
  cancel_.Create(Body(), 288, 285, 97, 25, "Отмена");
  cancel_.OnClick = [this] { Close(); };
  answers_ = 0;
  // Fail closed: a build that cannot check a package offers none, and says why.
  if (context_.UpdateKey.empty()) {
    description_.SetPlainText(kNoKeyText);
    return;
  }

  // The three requests run side by side.
  const char* const paths[3] = {kUpdateInfoPath, kUpdateSetupPath, kUpdatePatchPath};
  for (size_t i = 0; i < 3; ++i) {
    const auto which = static_cast<File>(i);
    TRequestEvents events;
    events.Downloaded = [this](std::string body) { DescriptionArrived(std::move(body)); };
    events.Failed = [this](uint16_t code) { RequestFailed(code); };
    TRequestLimits limits{.DeadlineMs = kRequestDeadlineMs};
    if (which == File::Description) {
      // A description is a page of text: anything longer fails the request.
      limits.MaxBodyBytes = kMaxDescriptionBytes;
    } else {
      // Only the size is wanted. The headers tell an announced empty file
      // from a reply without a length, which both come as -1.
      limits.SizeOnly = true;
      events.Size = [this, which](int32_t size) { SizeArrived(which, size); };
      events.Headers = [this, which](const std::vector<std::string>& headers) {
        if (AnnouncesEmptyBody(headers)) announcedEmpty_[static_cast<size_t>(which)] = true;
      };
    }
    requests_[i].Start(context_.UpdateUrl + paths[i], UpdateRequestOptions(context_.Checker, limits),
                       std::move(events));
  }
}

void TUpdateInfo::DescriptionArrived(std::string body) {
  ++answers_;
  descriptionText_ = std::move(body);
  context_.Checker.CountUpdate(static_cast<uint32_t>(descriptionText_.size()));
  Complete();
}

void TUpdateInfo::SizeArrived(File which, int32_t size) {
  ++answers_;
  const auto i = static_cast<size_t>(which);
  sizes_[i] = announcedEmpty_[i] ? 0 : size;
  Complete();
}

void TUpdateInfo::RequestFailed(uint16_t code) {
  failed_ = true;
  description_.Clear();
  description_.SetPlainText("Ошибка связи " + std::to_string(code) + "\r\n" +
                            "Не могу получить описание новой версии.");
}

void TUpdateInfo::Complete() {
  // A failed request keeps its error text on show: the window waits for
  // nothing more.
  if (answers_ != 3 || failed_) return;
  description_.Clear();
  description_.LoadRtf(descriptionText_);

  struct Choice {
    TChoiceButton& button;
    File file;
  };
  for (const Choice& c : {Choice{setup_, File::Setup}, Choice{patch_, File::Patch}}) {
    const int32_t size = sizes_[static_cast<size_t>(c.file)];
    c.button.SetEnabled(size != 0);
    // A missing length (-1) shows as the unsigned count it wraps to.
    c.button.SetText(c.button.Text() + " (" + FormatSize(static_cast<uint32_t>(size), 2) + ")");
  }
  if (setup_.Enabled()) {
    setup_.SetChecked(true);
    patch_.SetChecked(false);
  } else if (patch_.Enabled()) {
    patch_.SetChecked(true);
    setup_.SetChecked(false);
  }
  download_.SetEnabled(setup_.Enabled() || patch_.Enabled());
}

void TUpdateInfo::StartDownload() {
  const TUpdateChoice choice = setup_.Checked() ? TUpdateChoice::FullSetup : TUpdateChoice::Patch;
  Show(false);
  if (context_.OpenDownload) context_.OpenDownload(choice);
  PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

}  // namespace zelt
