#include "ui/uUpdateInfo.h"

#include <uxtheme.h>

#include <cctype>

#include "base/System_win.h"
#include "core/Traffic.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {

const char* const kTitle = "Информация об обновлении";
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

void CopyLoaderSettings(const HTTPDownload& loader, HTTPDownload& request) {
  request.UserAgent = loader.UserAgent;
  request.ProxyServer = loader.ProxyServer;
  request.ProxyPort = loader.ProxyPort;
  request.UseSystemProxy = loader.UseSystemProxy;
}

// --- TChoiceButton ---

bool TChoiceButton::Create(HWND parent, int x, int y, int w, int h, const std::string& caption) {
  Place96(x, y, w, h);
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateControl(L"BUTTON", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_RADIOBUTTON, 0, caption,
                     r.left, r.top, r.right - r.left, r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  // A themed radio button draws its text in the theme's colour whatever the
  // window asks for: the classic look keeps the navy. uxtheme.dll is no
  // KnownDLL: it comes from the system folder.
  if (auto* setTheme = SystemFunction<decltype(SetWindowTheme)>(L"uxtheme.dll", "SetWindowTheme"))
    setTheme(Handle(), L"", L"");
  return true;
}

bool TChoiceButton::Checked() const { return SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TChoiceButton::SetChecked(bool checked) {
  SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

// The other choice beside this one, in the direction of an arrow key, when
// it can be chosen.
TChoiceButton* TChoiceButton::Neighbour(bool forward) const {
  for (HWND h = GetWindow(Handle(), forward ? GW_HWNDNEXT : GW_HWNDPREV); h;
       h = GetWindow(h, forward ? GW_HWNDNEXT : GW_HWNDPREV)) {
    if (auto* choice = dynamic_cast<TChoiceButton*>(TWindow::FromHandle(h)))
      return choice->Enabled() ? choice : nullptr;
  }
  return nullptr;
}

LRESULT TChoiceButton::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_GETDLGCODE:
      return Default(msg, wp, lp) | DLGC_WANTARROWS;
    case WM_KEYDOWN:
      // The arrow keys move to the other choice and choose it.
      if (wp == VK_UP || wp == VK_DOWN || wp == VK_LEFT || wp == VK_RIGHT) {
        if (TChoiceButton* next = Neighbour(wp == VK_DOWN || wp == VK_RIGHT)) {
          SetFocus(next->Handle());
          if (next->OnClick) next->OnClick();
        }
        return 0;
      }
      break;
    default:
      break;
  }
  return Default(msg, wp, lp);
}

bool TChoiceButton::OnReflect(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND) {
    if ((HIWORD(wp) == BN_CLICKED || HIWORD(wp) == BN_DOUBLECLICKED) && OnClick) OnClick();
    result = 0;
    return true;
  }
  if (msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) {
    // Filled with a picture of the panel behind it, so the button looks
    // see-through on the gradient.
    result = reinterpret_cast<LRESULT>(
        SeeThroughBrush(Handle(), reinterpret_cast<HDC>(wp), background_, colour_));
    return true;
  }
  return false;
}

// --- TUpdateInfo ---

TUpdateInfo::TUpdateInfo(HWND owner, TUpdateEnv env) : env_(std::move(env)), alive_(std::make_shared<char>()) {
  CreateForm(kTitle, kTitle, kWidth, kHeight, owner);
  if (owner && IsWindowVisible(owner))
    CentreOn(owner);
  else
    CentreOnScreen();

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
  if (env_.UpdateKey.empty()) {
    description_.SetPlainText(kNoKeyText);
    return;
  }

  // The three requests run side by side. Their reports arrive on request
  // threads: each is posted to the GUI thread and dropped there once the
  // window is gone.
  const std::weak_ptr<char> alive = alive_;
  IGuiQueue* gui = &env_.Gui;
  auto post = [alive, gui](std::function<void()> work) {
    gui->Post([alive, work = std::move(work)] {
      if (alive.lock()) work();
    });
  };
  const char* const paths[3] = {kUpdateInfoPath, kUpdateSetupPath, kUpdatePatchPath};
  for (int i = 0; i < 3; ++i) {
    const auto which = static_cast<Request>(i);
    auto request = std::make_unique<HTTPDownload>(env_.Http, env_.Gui);
    request->DeadlineMs = kRequestDeadlineMs;
    request->OnDownloaded = [this, post](HTTPDownload&, TMemoryStream& data) {
      post([this, body = data.Bytes] { DescriptionArrived(body); });
    };
    request->OnError = [this, post](HTTPDownload&, uint16_t code) { post([this, code] { RequestFailed(code); }); };
    if (which == rqDescription) {
      // A description is a page of text: anything longer fails the request.
      request->MaxBodyBytes = kMaxDescriptionBytes;
    } else {
      // Only the size is wanted. The headers tell an announced empty file
      // from a reply without a length, which both come as -1.
      request->SizeOnly = true;
      request->OnSize = [this, post, which](HTTPDownload&, int32_t size) {
        post([this, which, size] { SizeArrived(which, size); });
      };
      request->OnHeaders = [this, post, which](HTTPDownload&, const std::vector<std::string>& headers) {
        if (AnnouncesEmptyBody(headers)) post([this, which] { announcedEmpty_[which] = true; });
      };
    }
    CopyLoaderSettings(env_.Checker.Loader(), *request);
    requests_[i] = std::move(request);
  }
  for (int i = 0; i < 3; ++i) requests_[i]->Start(env_.BaseUrl + paths[i]);
}

TUpdateInfo::~TUpdateInfo() {
  // Disown what the requests have posted, then stop them: Stop returns only
  // once no handler of theirs runs any more.
  alive_.reset();
  for (auto& request : requests_) request.reset();
}

void TUpdateInfo::DescriptionArrived(std::string body) {
  ++answers_;
  descriptionText_ = std::move(body);
  env_.Checker.CountUpdate(static_cast<uint32_t>(descriptionText_.size()));
  Complete();
}

void TUpdateInfo::SizeArrived(Request which, int32_t size) {
  ++answers_;
  sizes_[which] = announcedEmpty_[which] ? 0 : size;
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
    Request request;
  };
  for (const Choice& c : {Choice{setup_, rqSetup}, Choice{patch_, rqPatch}}) {
    const int32_t size = sizes_[c.request];
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
  env_.Checker.Tag = setup_.Checked() ? 1 : 0;
  Show(false);
  if (env_.OpenDownload) env_.OpenDownload();
  PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

}  // namespace zelt
