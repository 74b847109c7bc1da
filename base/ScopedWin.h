// Owners of Win32 handles: each frees its handle exactly once, on destruction
// or reset, so no cleanup path is written by hand.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

#include "base/System_win.h"

namespace zelt {

// Owns one handle of type H, freed by Free{}(h). The empty value is H{}, or
// Free::Invalid() where the platform uses another (file handles).
template <typename H, typename Free>
class TScoped {
 public:
  static H Empty() {
    if constexpr (requires { Free::Invalid(); })
      return Free::Invalid();
    else
      return H{};
  }
  TScoped() = default;
  explicit TScoped(H h) : h_(h) {}
  ~TScoped() { reset(); }
  TScoped(const TScoped&) = delete;
  TScoped& operator=(const TScoped&) = delete;
  TScoped(TScoped&& o) noexcept : h_(std::exchange(o.h_, Empty())) {}
  TScoped& operator=(TScoped&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, Empty()));
    return *this;
  }
  H get() const { return h_; }
  explicit operator bool() const { return h_ != Empty(); }
  H release() { return std::exchange(h_, Empty()); }
  void reset(H h = Empty()) {
    if (h_ != Empty()) Free{}(h_);
    h_ = h;
  }
  // For functions that hand a new handle out through a pointer.
  H* out() {
    reset();
    return &h_;
  }

 private:
  H h_ = Empty();
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
  void operator()(HIMAGELIST h) const { ImageListDestroy(h); }
};
struct MemDcFree {
  void operator()(HDC h) const { DeleteDC(h); }
};
struct HandleFree {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
struct FileFree : HandleFree {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
};
struct KeyFree {
  void operator()(HKEY h) const { RegCloseKey(h); }
};
struct ModuleFree {
  void operator()(HMODULE h) const { FreeLibrary(h); }
};
struct WindowFree {
  void operator()(HWND h) const { DestroyWindow(h); }
};

using TScopedFont = TScoped<HFONT, GdiFree>;
using TScopedBitmap = TScoped<HBITMAP, GdiFree>;
using TScopedBrush = TScoped<HBRUSH, GdiFree>;
using TScopedPen = TScoped<HPEN, GdiFree>;
using TScopedIcon = TScoped<HICON, IconFree>;
using TScopedMenu = TScoped<HMENU, MenuFree>;
using TScopedImageList = TScoped<HIMAGELIST, ImageListFree>;
using TScopedMemDc = TScoped<HDC, MemDcFree>;
using TScopedHandle = TScoped<HANDLE, HandleFree>;  // kernel objects: mutex, event, thread
using TScopedFile = TScoped<HANDLE, FileFree>;
using TScopedKey = TScoped<HKEY, KeyFree>;
using TScopedModule = TScoped<HMODULE, ModuleFree>;
using TScopedWindow = TScoped<HWND, WindowFree>;  // a plain window, not one of widgets/

// The DC of a window (or of the screen, for null) from GetDC, released with
// ReleaseDC to the same window.
class TWindowDc {
 public:
  explicit TWindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~TWindowDc() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  TWindowDc(const TWindowDc&) = delete;
  TWindowDc& operator=(const TWindowDc&) = delete;
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// One reference to a COM object.
template <typename T>
class TComPtr {
 public:
  TComPtr() = default;
  ~TComPtr() { reset(); }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T** out() {
    reset();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

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
