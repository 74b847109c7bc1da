// Owners of Win32 handles: each frees its handle exactly once, on destruction
// or reset, so no cleanup path is written by hand.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

namespace zelt {

template <typename H, typename Free>
class TScoped {
 public:
  TScoped() = default;
  explicit TScoped(H h) : h_(h) {}
  ~TScoped() { reset(); }
  TScoped(const TScoped&) = delete;
  TScoped& operator=(const TScoped&) = delete;
  TScoped(TScoped&& o) noexcept : h_(std::exchange(o.h_, H{})) {}
  TScoped& operator=(TScoped&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, H{}));
    return *this;
  }
  H get() const { return h_; }
  explicit operator bool() const { return h_ != H{}; }
  H release() { return std::exchange(h_, H{}); }
  void reset(H h = H{}) {
    if (h_) Free{}(h_);
    h_ = h;
  }

 private:
  H h_{};
};

struct GdiFree {
  void operator()(HGDIOBJ h) const { DeleteObject(h); }
};
struct IconFree {
  void operator()(HICON h) const { DestroyIcon(h); }
};
struct MenuFree {
  void operator()(HMENU h) const { DestroyMenu(h); }
};
struct ImageListFree {
  void operator()(HIMAGELIST h) const { ImageList_Destroy(h); }
};
struct WindowDcFree {
  void operator()(HDC h) const { DeleteDC(h); }
};

using TScopedFont = TScoped<HFONT, GdiFree>;
using TScopedBitmap = TScoped<HBITMAP, GdiFree>;
using TScopedBrush = TScoped<HBRUSH, GdiFree>;
using TScopedPen = TScoped<HPEN, GdiFree>;
using TScopedIcon = TScoped<HICON, IconFree>;
using TScopedMenu = TScoped<HMENU, MenuFree>;
using TScopedImageList = TScoped<HIMAGELIST, ImageListFree>;
using TScopedMemDc = TScoped<HDC, WindowDcFree>;

// A GDI object selected into a DC for the owner's scope.
class TSelect {
 public:
  TSelect(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
  ~TSelect() {
    if (old_) SelectObject(dc_, old_);
  }
  TSelect(const TSelect&) = delete;
  TSelect& operator=(const TSelect&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A screen-compatible memory DC with a bitmap, painted off-screen and copied
// to the target at the end: no flicker.
class TBufferedPaint {
 public:
  TBufferedPaint(HDC target, const RECT& rc)
      : target_(target), rc_(rc), dc_(CreateCompatibleDC(target)),
        bmp_(CreateCompatibleBitmap(target, rc.right - rc.left, rc.bottom - rc.top)), sel_(dc_.get(), bmp_.get()) {
    SetViewportOrgEx(dc_.get(), -rc.left, -rc.top, nullptr);
  }
  ~TBufferedPaint() {
    SetViewportOrgEx(dc_.get(), 0, 0, nullptr);
    BitBlt(target_, rc_.left, rc_.top, rc_.right - rc_.left, rc_.bottom - rc_.top, dc_.get(), 0, 0, SRCCOPY);
  }
  TBufferedPaint(const TBufferedPaint&) = delete;
  TBufferedPaint& operator=(const TBufferedPaint&) = delete;
  HDC dc() const { return dc_.get(); }

 private:
  HDC target_;
  RECT rc_;
  TScopedMemDc dc_;
  TScopedBitmap bmp_;
  TSelect sel_;
};

}  // namespace zelt
