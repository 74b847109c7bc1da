#include "ui/uMainForm.h"

#include "core/uZELTIMessages.h"
#include "core/Text_win.h"

namespace zelt {

TMainForm* MainForm = nullptr;

namespace {
constexpr const char* kProductCaption = "Zelt Rarazovo 0.4";
constexpr int kClientWidth = 617;
constexpr int kClientHeight = 284;
}  // namespace

TMainForm::TMainForm(TApplication& app) : app_(app) {
  MainForm = this;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kClientWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kClientHeight) / 2;
  // Borderless and hidden; a top-level window so that broadcasts reach it.
  CreateWnd(L"ZeltMainForm", WS_POPUP | WS_CLIPCHILDREN, 0, "Zelt Rarazovo", x, y, kClientWidth, kClientHeight,
            nullptr, CS_DBLCLKS);

  Broadcast(ZELTI_START);
  app_.SetTitle(kProductCaption);
  SetWindowTextW(Handle(), Widen(kProductCaption).c_str());
  ShowMain(false);
}

TMainForm::~TMainForm() {
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::ShowMain(bool visible) {
  ShowWindow(Handle(), visible ? SW_SHOW : SW_HIDE);
  if (visible) {
    SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(Handle());
  }
}

bool TMainForm::HookInstanceMessage(UINT msg) {
  if (msg == ZELTI_FIND && ZELTI_FIND != 0) {
    Broadcast(ZELTI_HERE);
    return true;
  }
  if (msg == ZELTI_HALT && ZELTI_HALT != 0) PostMessageW(Handle(), WM_CLOSE, 0, 0);
  return false;
}

void TMainForm::CloseSequence() { Broadcast(ZELTI_CLOSE); }

LRESULT TMainForm::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg >= 0xC000 && HookInstanceMessage(msg)) return 0;
  switch (msg) {
    case WM_CLOSE:
      CloseSequence();
      DestroyWindow(Handle());
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return Default(msg, wp, lp);
  }
}

}  // namespace zelt
