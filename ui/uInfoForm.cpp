#include "ui/uInfoForm.h"

#include <oleacc.h>

#include <cstdlib>

#include "base/Text_win.h"
#include "widgets/Desktop.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

TInfoForm::TInfoForm(HWND owner, std::function<void()> onRead, std::function<void()> onUpdate)
    : onRead_(std::move(onRead)), onUpdate_(std::move(onUpdate)) {
  // A tool window: the popup never gets a taskbar entry of its own.
  CreateForm("Zelt Rarazovo", "", kWidth, kHeight, owner, TButton::Glyph::Close, WS_EX_TOOLWINDOW,
             L"ZeltInfoForm");

  message_.Create(Body(), 8, 27, "---------");
  message_.SetColour(palette::kNavy);
  message_.SetBold(true);

  read_.Create(Body(), 10, 54, 103, 43, "Читать");
  read_.SetPicture("INFOFORM_ICREAD", 32);
  read_.OnClick = [this] {
    if (onRead_) onRead_();
    Hide();
  };

  update_.Create(Body(), 120, 54, 49, 43);
  update_.SetPicture("INFOFORM_ICUPDATE", 32);
  // The two picture-only buttons say in a tooltip (and to a screen reader)
  // which window or answer they give.
  update_.SetHint("Информация об обновлении");
  update_.OnClick = [this] {
    if (onUpdate_) onUpdate_();
  };

  noUpdate_.Create(Body(), 120, 54, 49, 43);
  noUpdate_.SetPicture("INFOFORM_ICNOUPDATE", 32);
  noUpdate_.SetHint("Обновление не требуется");
  noUpdate_.OnClick = [this] {
    Desktop().Message(nullptr, "Необходимости в обновлении нет.\r\nВы обладаете последней версией программы.",
                   "Обновление не требуется", MB_OK | MB_ICONINFORMATION);
  };
  SetUpdateAvailable(false);
}

std::wstring TInfoForm::AccessibleName() const { return Widen(message_.Text()); }

long TInfoForm::AccessibleRole() const { return ROLE_SYSTEM_ALERT; }

void TInfoForm::SetUpdateAvailable(bool available) {
  update_.SetVisible(available);
  noUpdate_.SetVisible(!available);
}

void TInfoForm::MoveToCorner() {
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  // First onto that monitor, where the popup takes its DPI (the system may
  // rescale it on the way); then placed by the size it has there. Showing
  // it there later would rescale it around its top-left corner.
  for (int pass = 0; pass < 2; ++pass) {
    const SIZE size = SizePx();
    SetWindowPos(Handle(), nullptr, work.right - size.cx, work.bottom - size.cy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (pass == 0) FollowMonitorDpi();
  }
}

void TInfoForm::SnapToWorkArea(WINDOWPOS& pos) const {
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int w = pos.cx, h = pos.cy;
  if (pos.flags & SWP_NOSIZE) {
    const SIZE s = SizePx();
    w = s.cx;
    h = s.cy;
  }
  const int snap = Scale(kSnapDistance);
  const int right = work.right - w;
  const int bottom = work.bottom - h;
  if (std::abs(pos.x - work.left) <= snap) pos.x = work.left;
  if (std::abs(pos.x - right) <= snap) pos.x = right;
  if (std::abs(pos.y - work.top) <= snap) pos.y = work.top;
  if (std::abs(pos.y - bottom) <= snap) pos.y = bottom;
}

LRESULT TInfoForm::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_WINDOWPOSCHANGING) {
    auto* pos = reinterpret_cast<WINDOWPOS*>(lp);
    if (!(pos->flags & SWP_NOMOVE)) SnapToWorkArea(*pos);
  }
  return TForm::OnMessage(msg, wp, lp);
}

}  // namespace zelt
