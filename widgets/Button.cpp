#include "widgets/Button.h"

#include <commctrl.h>

#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {
// The one tooltip control of a top-level window, shared by its buttons: each
// button is a tool of it. It is owned by that window and goes with it, so it
// is found among the windows that window owns; nothing is kept beside it.
HWND FindOwnedToolTip(HWND root) {
  struct TSearch {
    HWND Root;
    HWND Found;
  } search{root, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(lp);
        wchar_t cls[32] = {};
        GetClassNameW(hwnd, cls, 32);
        if (GetWindow(hwnd, GW_OWNER) != s->Root || lstrcmpiW(cls, TOOLTIPS_CLASSW) != 0) return TRUE;
        s->Found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

HWND SharedToolTip(HWND root) {
  if (HWND tip = FindOwnedToolTip(root)) return tip;
  HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, root, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (!tip) return nullptr;
  SendMessageW(tip, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  return tip;
}
}  // namespace

TButton::~TButton() { RemoveTool(); }

void TButton::RemoveTool() {
  if (tip_ && IsWindow(tip_) && Handle()) {
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = GetParent(Handle());
    ti.uId = reinterpret_cast<UINT_PTR>(Handle());
    SendMessageW(tip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  tip_ = nullptr;
}

bool TButton::Create(HWND parent, int x, int y, int w, int h, const std::string& caption) {
  Place96(x, y, w, h);
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateControl(L"BUTTON", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_OWNERDRAW, 0, caption, r.left, r.top, r.right - r.left,
                     r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  return true;
}

void TButton::SetPicture(const char* resourceName, int size96) {
  picture_.reset();
  pictureName_ = resourceName ? resourceName : "";
  pictureResource_ = pictureName_;
  pictureSize_ = size96;
  InvalidateRect(Handle(), nullptr, FALSE);
}

HBITMAP TButton::Picture() const {
  if (!pictureName_.empty()) {
    const TDpiScope dpi(Dpi());
    picture_ = LoadPngResource(pictureName_.c_str(), pictureSize_);
    pictureName_.clear();
  }
  return picture_.get();
}

SIZE TButton::PictureSize() const {
  HBITMAP picture = Picture();
  return picture ? BitmapSize(picture) : SIZE{0, 0};
}

void TButton::ChangeDpi(int dpi) {
  TControl::ChangeDpi(dpi);
  const TDpiScope scope(dpi);
  picture_.reset();
  pictureName_ = pictureResource_;
  if (tip_ && IsWindow(tip_)) SendMessageW(tip_, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TButton::SetText(const std::string& text) {
  TControl::SetText(text);
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TButton::SetHint(const std::string& hint) {
  hint_ = Widen(hint);
  if (!tip_) return;  // registered when the pointer first comes over the button
  TTTOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.hwnd = GetParent(Handle());
  ti.uId = reinterpret_cast<UINT_PTR>(Handle());
  ti.lpszText = hint_.data();
  SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

// Creating tooltips costs more than the rest of a window's start, so a hint
// becomes a tool of the window's tooltip only when it can first be wanted.
bool TButton::EnsureTool() {
  if (tip_) return true;
  if (hint_.empty() || !Handle()) return false;
  tip_ = SharedToolTip(GetAncestor(Handle(), GA_ROOT));
  if (!tip_) return false;
  TTTOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = GetParent(Handle());
  ti.uId = reinterpret_cast<UINT_PTR>(Handle());
  ti.lpszText = hint_.data();
  SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  return true;
}

std::string TButton::Hint() const { return Narrow(hint_); }

LRESULT TButton::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_MOUSEMOVE:
      if (!tip_ && EnsureTool()) {
        // The tooltip watches the button from now on; this first move it
        // would have missed.
        MSG m{Handle(), msg, wp, lp, static_cast<DWORD>(GetMessageTime()), {}};
        SendMessageW(tip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&m));
      }
      if (!hot_) {
        hot_ = true;
        TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, Handle(), 0};
        TrackMouseEvent(&tme);
        InvalidateRect(Handle(), nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      hot_ = false;
      InvalidateRect(Handle(), nullptr, FALSE);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_GETDLGCODE: {
      // Enter presses the focused button (the window's dialog keys would
      // otherwise take it); Space it presses by itself.
      const auto* key = reinterpret_cast<const MSG*>(lp);
      if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) return DLGC_WANTMESSAGE;
      break;
    }
    case WM_KEYDOWN:
      if (wp == VK_RETURN) {
        if (OnClick && IsWindowEnabled(Handle())) OnClick();
        return 0;
      }
      break;
    case WM_DESTROY:
      // While the button and its parent still exist: the tooltip names both.
      RemoveTool();
      break;
    default:
      break;
  }
  return Default(msg, wp, lp);
}

bool TButton::OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (msg == WM_COMMAND) {
    const WORD code = HIWORD(wp);
    // An owner-drawn button reports the second click of a double-click
    // separately; both are clicks here.
    if (code == BN_CLICKED || code == BN_DOUBLECLICKED) {
      if (OnClick && IsWindowEnabled(Handle())) OnClick();
      result = 0;
      return true;
    }
    return false;
  }
  if (msg == WM_DRAWITEM) {
    Draw(*reinterpret_cast<DRAWITEMSTRUCT*>(lp));
    result = TRUE;
    return true;
  }
  return false;
}

void TButton::DrawGlyph(HDC dc, const RECT& rc, bool hot, bool down) {
  const bool contrast = HighContrast();
  if ((hot || down) && contrast) {
    FillSolid(dc, rc, GetSysColor(COLOR_HIGHLIGHT));
  } else if (hot || down) {
    // The close glyph turns red; the hide glyph gets a white veil, stronger when pressed.
    const COLORREF fill = glyph_ == Glyph::Close ? (down ? RGB(241, 112, 122) : RGB(232, 17, 35)) : RGB(255, 255, 255);
    if (glyph_ == Glyph::Close) {
      FillSolid(dc, rc, fill);
    } else {
      // A light veil over the strip.
      TScopedMemDc mem(CreateCompatibleDC(dc));
      TScopedBitmap one(CreateCompatibleBitmap(dc, 1, 1));
      TSelect sel(mem.get(), one.get());
      SetPixel(mem.get(), 0, 0, fill);
      BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(down ? 90 : 50), 0};
      GdiAlphaBlend(dc, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, mem.get(), 0, 0, 1, 1, blend);
    }
  }
  const int cx = (rc.left + rc.right) / 2;
  const int cy = (rc.top + rc.bottom) / 2;
  const int half = Scale(4);
  const COLORREF ink = !contrast ? palette::kStripText : GetSysColor(hot || down ? COLOR_HIGHLIGHTTEXT : COLOR_CAPTIONTEXT);
  TScopedPen pen(CreatePen(PS_SOLID, Scale(1) > 1 ? Scale(1) + 1 : 1, ink));
  TSelect sel(dc, pen.get());
  if (glyph_ == Glyph::Close) {
    MoveToEx(dc, cx - half, cy - half, nullptr);
    LineTo(dc, cx + half + 1, cy + half + 1);
    MoveToEx(dc, cx + half, cy - half, nullptr);
    LineTo(dc, cx - half - 1, cy + half + 1);
  } else {
    MoveToEx(dc, cx - half, cy + Scale(1), nullptr);
    LineTo(dc, cx + half + 1, cy + Scale(1));
  }
}

void TButton::Draw(const DRAWITEMSTRUCT& dis) {
  const RECT rc = dis.rcItem;
  TBufferedPaint buffer(dis.hDC, rc);
  HDC dc = buffer.dc();
  const bool down = (dis.itemState & ODS_SELECTED) != 0;
  const bool disabled = (dis.itemState & ODS_DISABLED) != 0;
  const bool focus = (dis.itemState & ODS_FOCUS) != 0 && (dis.itemState & ODS_NOFOCUSRECT) == 0;
  const bool hot = hot_ && !disabled;

  PaintParentBackground(Handle(), dc);
  if (glyph_ != Glyph::None) {
    DrawGlyph(dc, rc, hot, down);
    return;
  }

  COLORREF top = palette::kButtonTop, bottom = palette::kButtonBottom, border = palette::kButtonBorder;
  COLORREF ink = disabled ? palette::kDisabledText : palette::kText;
  if (down) {
    top = palette::kDownTop, bottom = palette::kDownBottom, border = palette::kDownBorder;
  } else if (hot) {
    top = palette::kHotTop, bottom = palette::kHotBottom, border = palette::kHotBorder;
  }
  if (HighContrast()) {
    // The system's face, text and highlight, no gradient.
    const bool lit = down || hot;
    top = bottom = GetSysColor(lit ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
    border = GetSysColor(COLOR_BTNTEXT);
    ink = GetSysColor(disabled ? COLOR_GRAYTEXT : lit ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT);
  }
  const int radius = Scale(2);
  {
    TScoped<HRGN, GdiFree> clip(CreateRoundRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom + 1, radius * 2, radius * 2));
    SelectClipRgn(dc, clip.get());
    FillGradient(dc, rc, top, bottom);
    SelectClipRgn(dc, nullptr);
  }
  FrameRounded(dc, rc, border, radius);
  if (focus && !down) {
    RECT inner = rc;
    InflateRect(&inner, -Scale(3), -Scale(3));
    DrawFocusRect(dc, &inner);
  }

  // Picture and caption centred together, the picture on the left.
  const std::string caption = Text();
  const std::wstring text = Widen(caption);
  TSelect font(dc, UiFont());
  SIZE textSize{0, 0};
  if (!text.empty()) GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &textSize);
  HBITMAP picture = Picture();
  const SIZE pic = BitmapSize(picture);
  const int gap = (pic.cx && textSize.cx) ? Scale(5) : 0;
  const int total = pic.cx + gap + textSize.cx;
  const int shift = down ? 1 : 0;
  int x = (rc.left + rc.right - total) / 2 + shift;
  if (pic.cx) {
    DrawAlphaBitmap(dc, picture, x, (rc.top + rc.bottom - pic.cy) / 2 + shift, disabled);
    x += pic.cx + gap;
  }
  if (!text.empty()) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ink);
    RECT tr{x, rc.top + shift, x + textSize.cx + 1, rc.bottom + shift};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
  }
}

}  // namespace zelt
