// What every in-process window test needs: fakes of the checker's registry,
// sound and clock ports, pumping the message queue, posting keys, acting
// from inside a modal loop, and screenshots of what the display shows.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Ports.h"
#include "base/Text_win.h"
#include "widgets/Application.h"

namespace zelt::test {

class MapRegistry final : public IRegistry {
 public:
  std::map<std::string, std::string> Values;
  bool WriteString(const std::string& key, const std::string& name, const std::wstring& value, bool) override {
    Values[key + "\\" + name] = Narrow(value);
    return true;
  }
  bool DeleteValue(const std::string& key, const std::string& name) override {
    return Values.erase(key + "\\" + name) > 0;
  }
};

class RecordingSound final : public ISoundPlayer {
 public:
  std::vector<std::string> Played;  // file names, in play order
  void Stop() override {}
  void Close() override {}
  bool SetFileName(const std::string& path) override {
    file_ = path;
    return !path.empty();
  }
  void Play() override { Played.push_back(file_); }

 private:
  std::string file_;
};

class FixedClock final : public IClock {
 public:
  double Now() const override { return 739589.75; }  // 04-12-2025, 18:00
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(Widen(path).c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void PumpFor(TApplication& app, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    app.ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Pumps until the condition holds, at most `ms` milliseconds; returns the condition.
inline bool PumpUntil(TApplication& app, const std::function<bool()>& done, int ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    app.ProcessMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// A key pressed and released on a window, as the system queues it.
inline void PostKey(HWND target, UINT vk) {
  PostMessageW(target, WM_KEYDOWN, vk, 1);
  PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

// A screenshot of a screen rectangle (what the display shows) as a PNG.
inline bool SaveScreenPng(const RECT& rc, const std::string& path) {
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  auto* px = static_cast<BYTE*>(bits);
  for (int i = 0; i < w * h; ++i) px[i * 4 + 3] = 255;

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok = false;
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromFilename(Widen(path).c_str(), GENERIC_WRITE)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
      SUCCEEDED(frame->SetSize(static_cast<UINT>(w), static_cast<UINT>(h)))) {
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    ok = SUCCEEDED(frame->SetPixelFormat(&format)) &&
         SUCCEEDED(frame->WritePixels(static_cast<UINT>(h), static_cast<UINT>(w) * 4, static_cast<UINT>(w * h * 4),
                                      static_cast<BYTE*>(bits))) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  }
  if (frame) frame->Release();
  if (encoder) encoder->Release();
  if (stream) stream->Release();
  if (factory) factory->Release();
  DeleteObject(bmp);
  return ok;
}

// Screenshots land in screenshots\ below the test's working folder (the build tree).
inline std::string ShotPath(const std::string& name) {
  CreateDirectoryW(L"screenshots", nullptr);
  return "screenshots\\" + name + ".png";
}

inline bool SaveWindowPng(HWND hwnd, const std::string& name) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT rc;
  GetWindowRect(hwnd, &rc);
  return SaveScreenPng(rc, ShotPath(name));
}

// Runs `f` once from inside whatever message loop is running `ms` from now
// (a modal window's, a menu's): the way a test acts while a loop blocks it.
// Several wait their turn in order.
inline std::vector<std::function<void()>>& LaterQueue() {
  static std::vector<std::function<void()>> q;
  return q;
}
inline void CALLBACK LaterProc(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (LaterQueue().empty()) return;
  std::function<void()> f = std::move(LaterQueue().front());
  LaterQueue().erase(LaterQueue().begin());
  if (f) f();
}
inline void RunLater(std::function<void()> f, UINT ms = 30) {
  LaterQueue().push_back(std::move(f));
  SetTimer(nullptr, 0, ms, LaterProc);
}

}  // namespace zelt::test
