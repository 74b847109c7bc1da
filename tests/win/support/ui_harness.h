// In-process harness for the windows: an application object, the main window
// with a real TChecker over fake ports (no network, a map for the registry,
// a recorder for sounds, a fixed clock, a temporary program folder), the
// popup, and helpers to act as a user would: post keys and clicks, pump the
// message queue, take screenshots.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/Text_win.h"
#include "core/uChecker.h"
#include "core/uZELTIMessages.h"
#include "ui/uInfoForm.h"
#include "ui/uMainForm.h"
#include "widgets/Application.h"
#include "widgets/Dpi.h"
#include "widgets/Shell.h"

namespace zelt::test {

// Every request fails at once, as with no network: the poll ends in OnError.
class FailingTransport final : public IHttpTransport {
 public:
  std::atomic<int> Opens{0};
  HttpHandle Open(const std::string&, uint32_t, const std::string*) override {
    ++Opens;
    return nullptr;
  }
  HttpHandle Connect(HttpHandle, const std::string&, uint16_t, const std::string&, const std::string&) override {
    return nullptr;
  }
  HttpHandle OpenRequest(HttpHandle, const std::string&, uint32_t) override { return nullptr; }
  bool AddRequestHeaders(HttpHandle, const std::string&, uint32_t) override { return false; }
  bool SendRequest(HttpHandle) override { return false; }
  bool QueryInfo(HttpHandle, uint32_t, char*, uint32_t*) override { return false; }
  bool ReadFile(HttpHandle, char*, uint32_t, uint32_t* read) override {
    if (read) *read = 0;
    return false;
  }
  void CloseHandle(HttpHandle) override {}
  uint32_t LastError() override { return 12029; }  // cannot connect
};

class MapRegistry final : public IRegistry {
 public:
  std::map<std::string, std::string> Values;
  bool WriteString(const std::string& key, const std::string& name, const std::string& value, bool) override {
    Values[key + "\\" + name] = value;
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

// An empty folder of its own for each test (the program's folder: data.dat).
inline std::string TempFolder() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static int counter = 0;
  const std::wstring dir = std::wstring(base) + L"zelt-ui-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter) + L"\\";
  CreateDirectoryW(dir.c_str(), nullptr);
  DeleteFileW((dir + L"data.dat").c_str());
  return Narrow(dir);
}

inline void RemoveTempFolder(const std::string& dir) {
  DeleteFileW(Widen(dir + "data.dat").c_str());
  RemoveDirectoryW(Widen(dir).c_str());
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(Widen(path).c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A topic reply body as the server sends it: zlib data without its two header bytes.
inline std::string CompressedBody(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
            static_cast<uLong>(text.size()), 9);
  out.resize(size);
  return out.substr(2);
}

struct Topic {
  std::string title, path, forum, replies, author;
};

// The decompressed reply text: flag, then five fields per topic.
inline std::string ReplyText(bool newVersion, const std::vector<Topic>& topics) {
  std::string t = newVersion ? "1" : "0";
  for (const Topic& p : topics) t += p.title + '\x11' + p.path + '\x11' + p.forum + '\x11' + p.replies + '\x11' + p.author + '\x11';
  return t;
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

// The main window and the popup over a real checker with fake ports.
class UiFixture : public ::testing::Test {
 protected:
  void SetUp() override { Start(96); }
  void TearDown() override { Stop(); }

  void Start(int dpi) {
    SetDpiOverride(dpi);
    RegisterInstanceMessages();
    programDir = TempFolder();
    app = std::make_unique<TApplication>("simple");
    opened.clear();
    boxes.clear();
    SetShellOpenHook([this](HWND, const std::string& file) { opened.push_back(file); });
    SetMessageBoxHook([this](HWND, const std::string& text, const std::string& caption, UINT flags) {
      boxes.push_back({text, caption, flags});
      return IDOK;
    });
    main = std::make_unique<TMainForm>(*app, [this] {
      return CheckerPorts{*app, transport, app->CreateTimer(), registry, sound, clock, programDir,
                          programDir + "ZeltInformer.exe"};
    });
    info = std::make_unique<TInfoForm>(app->Handle());
    // The first poll leaves at once and fails: wait for its report.
    ASSERT_TRUE(PumpUntil(*app, [this] { return !Checker->Loader->Busy && main->StatusLine().Text() == "Ошибка сети "; }));
  }

  void Stop() {
    SetShellOpenHook(nullptr);
    SetMessageBoxHook(nullptr);
    info.reset();
    if (main) {
      if (IsWindow(main->Handle())) {
        SendMessageW(main->Handle(), WM_CLOSE, 0, 0);
      }
      main.reset();
    }
    // Leave no quit request behind for the next test.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message != WM_QUIT) DispatchMessageW(&msg);
    }
    app.reset();
    SetDpiOverride(0);
    RemoveTempFolder(programDir);
  }

  // Applies a reply as if the server had sent it, on the GUI thread.
  void Reply(bool newVersion, const std::vector<Topic>& topics) {
    Checker->HandleReply(CompressedBody(ReplyText(newVersion, topics)));
  }

  TListView& List() { return main->TopicList(); }
  int RowOf(const std::string& title) {
    for (int r = 0; r < List().Count(); ++r)
      if (List().Cell(r, 0) == title) return r;
    return -1;
  }
  std::vector<std::string> Column(int column) {
    std::vector<std::string> v;
    for (int r = 0; r < List().Count(); ++r) v.push_back(List().Cell(r, column));
    return v;
  }

  struct Box {
    std::string text, caption;
    UINT flags;
  };

  std::string programDir;
  std::unique_ptr<TApplication> app;
  FailingTransport transport;
  MapRegistry registry;
  RecordingSound sound;
  FixedClock clock;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TInfoForm> info;
  std::vector<std::string> opened;
  std::vector<Box> boxes;
};

}  // namespace zelt::test

namespace zelt::test {

// Runs `f` once from inside whatever message loop is running `ms` from now
// (a modal window's, a menu's): the way a test acts while a loop blocks it.
inline std::function<void()>& LaterSlot() {
  static std::function<void()> slot;
  return slot;
}
inline void CALLBACK LaterProc(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  std::function<void()> f = std::move(LaterSlot());
  LaterSlot() = nullptr;
  if (f) f();
}
inline void RunLater(std::function<void()> f, UINT ms = 30) {
  LaterSlot() = std::move(f);
  SetTimer(nullptr, 0, ms, LaterProc);
}

// Mouse messages as the system delivers them to a control: the release is
// queued first, so a control that waits for it while tracking finds it.
inline void Click(HWND hwnd, int x, int y) {
  PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
}
inline void DoubleClick(HWND hwnd, int x, int y, bool right = false) {
  if (right) {
    PostMessageW(hwnd, WM_RBUTTONUP, 0, MAKELPARAM(x, y));
    SendMessageW(hwnd, WM_RBUTTONDBLCLK, MK_RBUTTON, MAKELPARAM(x, y));
    return;
  }
  PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  SendMessageW(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(x, y));
}

inline POINT RowPoint(HWND list, int row) {
  RECT rc{};
  rc.left = LVIR_LABEL;
  SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rc));
  return POINT{rc.left + 10, (rc.top + rc.bottom) / 2};
}

inline POINT HeaderPoint(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  RECT rc{};
  SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rc));
  return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

inline HWND HeaderOf(HWND list) { return reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)); }

}  // namespace zelt::test
