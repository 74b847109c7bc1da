#include "widgets/Paint.h"

#include <objbase.h>
#include <wincodec.h>

#include <map>
#include <string>

#include "widgets/Dpi.h"

namespace zelt {

namespace {

// The interface fonts by DPI: windows on monitors of different scales use
// theirs side by side. Made on first use, kept for the program's life (a
// handful at most).
struct TFonts {
  TScopedFont Regular, Bold;
};
std::map<int, TFonts>& FontCache() {
  static auto* fonts = new std::map<int, TFonts>;  // never destroyed: controls may hold them to the end
  return *fonts;
}

// COM for WIC on the calling (GUI) thread; balanced by the process's end.
bool EnsureCom() {
  static const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
}

}  // namespace

namespace {
int g_highContrast = -1;
}  // namespace

bool HighContrast() {
  if (g_highContrast >= 0) return g_highContrast != 0;
  HIGHCONTRASTW hc{};
  hc.cbSize = sizeof(hc);
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void SetHighContrastOverride(int mode) { g_highContrast = mode; }

COLORREF SchemeColour(COLORREF designed, int sysIndex) {
  return HighContrast() ? GetSysColor(sysIndex) : designed;
}

void FillScheme(HDC dc, const RECT& rc, COLORREF from, COLORREF to, int sysIndex) {
  if (HighContrast())
    FillSolid(dc, rc, GetSysColor(sysIndex));
  else
    FillGradient(dc, rc, from, to);
}

HFONT UiFont(bool bold) {
  const int dpi = CurrentDpi();
  TFonts& fonts = FontCache()[dpi];
  if (!fonts.Regular) {
    auto make = [&](int weight) {
      LOGFONTW lf{};
      // Eight points (11 pixels at 96 DPI), rounded to the nearest pixel at
      // the DPI: 11/96 scaled would round up at 125 % and 150 % and set text
      // wider than the layout grows, out past the window's edge.
      lf.lfHeight = -MulDiv(8, dpi, 72);
      lf.lfWeight = weight;
      lf.lfCharSet = RUSSIAN_CHARSET;  // 204
      lf.lfQuality = CLEARTYPE_QUALITY;
      lstrcpyW(lf.lfFaceName, L"MS Sans Serif");
      return TScopedFont(CreateFontIndirectW(&lf));
    };
    fonts.Regular = make(FW_NORMAL);
    fonts.Bold = make(FW_BOLD);
  }
  return bold ? fonts.Bold.get() : fonts.Regular.get();
}

void FillGradient(HDC dc, const RECT& rc, COLORREF from, COLORREF to, bool vertical) {
  TRIVERTEX v[2] = {};
  v[0].x = rc.left;
  v[0].y = rc.top;
  v[0].Red = static_cast<COLOR16>(GetRValue(from) << 8);
  v[0].Green = static_cast<COLOR16>(GetGValue(from) << 8);
  v[0].Blue = static_cast<COLOR16>(GetBValue(from) << 8);
  v[1].x = rc.right;
  v[1].y = rc.bottom;
  v[1].Red = static_cast<COLOR16>(GetRValue(to) << 8);
  v[1].Green = static_cast<COLOR16>(GetGValue(to) << 8);
  v[1].Blue = static_cast<COLOR16>(GetBValue(to) << 8);
  GRADIENT_RECT r{0, 1};
  GdiGradientFill(dc, v, 2, &r, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
}

void FillSolid(HDC dc, const RECT& rc, COLORREF colour) {
  const COLORREF old = SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void FrameRect(HDC dc, const RECT& rc, COLORREF colour) {
  FillSolid(dc, RECT{rc.left, rc.top, rc.right, rc.top + 1}, colour);
  FillSolid(dc, RECT{rc.left, rc.bottom - 1, rc.right, rc.bottom}, colour);
  FillSolid(dc, RECT{rc.left, rc.top, rc.left + 1, rc.bottom}, colour);
  FillSolid(dc, RECT{rc.right - 1, rc.top, rc.right, rc.bottom}, colour);
}

void FrameRounded(HDC dc, const RECT& rc, COLORREF colour, int radius) {
  if (radius <= 0) {
    FrameRect(dc, rc, colour);
    return;
  }
  TScopedPen pen(CreatePen(PS_SOLID, 1, colour));
  TSelect selPen(dc, pen.get());
  TSelect selBrush(dc, GetStockObject(NULL_BRUSH));
  RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, radius * 2, radius * 2);
}

SIZE TextExtent(HWND window, const std::wstring& text, HFONT font, UINT format) {
  TWindowDc dc(window);
  TSelect select(dc.get(), font);
  RECT rc{0, 0, 0, 0};
  if (text.empty()) {
    TEXTMETRICW tm;
    GetTextMetricsW(dc.get(), &tm);
    rc.bottom = tm.tmHeight;
  } else {
    DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &rc, DT_CALCRECT | DT_NOPREFIX | format);
  }
  return SIZE{rc.right, rc.bottom};
}

void PaintParentBackground(HWND child, HDC dc) {
  HWND parent = GetParent(child);
  if (!parent) return;
  POINT org{0, 0};
  MapWindowPoints(child, parent, &org, 1);
  POINT old;
  OffsetViewportOrgEx(dc, -org.x, -org.y, &old);
  SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  SetViewportOrgEx(dc, old.x, old.y, nullptr);
}

HBRUSH SeeThroughBrush(HWND control, HDC dc, TScopedBrush& holder, COLORREF text) {
  RECT rc;
  GetClientRect(control, &rc);
  TScopedMemDc mem(CreateCompatibleDC(dc));
  TScopedBitmap picture(CreateCompatibleBitmap(dc, rc.right > 0 ? rc.right : 1, rc.bottom > 0 ? rc.bottom : 1));
  {
    TSelect sel(mem.get(), picture.get());
    PaintParentBackground(control, mem.get());
  }
  holder.reset(CreatePatternBrush(picture.get()));
  SetBrushOrgEx(dc, 0, 0, nullptr);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, IsWindowEnabled(control) ? SchemeColour(text, COLOR_BTNTEXT)
                                            : SchemeColour(palette::kDisabledText, COLOR_GRAYTEXT));
  return holder.get();
}

TScopedBitmap LoadPngResource(const char* name, int size96) {
  HMODULE module = GetModuleHandleW(nullptr);
  // The picture drawn for this size where there is one (NAME_<pixels>),
  // else the 100 % picture scaled.
  const std::string sized = std::string(name) + "_" + std::to_string(Scale(size96));
  HRSRC res = Scale(size96) != size96 ? FindResourceA(module, sized.c_str(), "PNG") : nullptr;
  if (!res) res = FindResourceA(module, name, "PNG");
  if (!res || !EnsureCom()) return {};
  HGLOBAL global = LoadResource(module, res);
  const void* bytes = global ? LockResource(global) : nullptr;
  const DWORD length = SizeofResource(module, res);
  if (!bytes || length == 0) return {};

  TComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.out()))))
    return {};
  TComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(stream.out())) ||
      FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)), length)))
    return {};
  TComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out())))
    return {};
  TComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, frame.out()))) return {};

  const UINT side = static_cast<UINT>(Scale(size96));
  IWICBitmapSource* source = frame.get();
  TComPtr<IWICBitmapScaler> scaler;
  UINT w = 0, h = 0;
  frame->GetSize(&w, &h);
  if (w != side || h != side) {
    if (FAILED(factory->CreateBitmapScaler(scaler.out())) ||
        FAILED(scaler->Initialize(frame.get(), side, side, WICBitmapInterpolationModeFant)))
      return {};
    source = scaler.get();
  }
  TComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.out())) ||
      FAILED(converter->Initialize(source, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    return {};

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = static_cast<LONG>(side);
  bi.bmiHeader.biHeight = -static_cast<LONG>(side);  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  TScopedBitmap bmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bmp || !bits) return {};
  if (FAILED(converter->CopyPixels(nullptr, side * 4, side * side * 4, static_cast<BYTE*>(bits)))) return {};
  return bmp;
}

SIZE BitmapSize(HBITMAP bmp) {
  BITMAP info{};
  if (!bmp || !GetObjectW(bmp, sizeof(info), &info)) return SIZE{0, 0};
  return SIZE{info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight};
}

void DrawAlphaBitmap(HDC dc, HBITMAP bmp, int x, int y, bool faded) {
  if (!bmp) return;
  const SIZE size = BitmapSize(bmp);
  TScopedMemDc mem(CreateCompatibleDC(dc));
  TSelect sel(mem.get(), bmp);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(faded ? 110 : 255), AC_SRC_ALPHA};
  GdiAlphaBlend(dc, x, y, size.cx, size.cy, mem.get(), 0, 0, size.cx, size.cy, blend);
}

}  // namespace zelt
