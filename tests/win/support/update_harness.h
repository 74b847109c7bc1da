// In-process harness of the update windows: an application object, a real
// TChecker over fake ports (a scripted transport, a map for the registry, a
// silent sound port, a fixed clock, a temporary program folder), the seams
// of the message box, the file dialog and the shell's execute answered by
// the test, and helpers to pump messages and take screenshots.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/Text_win.h"
#include "core/uChecker.h"
#include "tests/win/support/update_transport.h"
#include "ui/LaunchUpdate.h"
#include "ui/uUpdateInfo.h"
#include "widgets/Application.h"
#include "widgets/Dpi.h"
#include "widgets/FileDialog.h"
#include "widgets/Shell.h"

namespace zelt::updatetest {

class NullRegistry final : public IRegistry {
 public:
  bool WriteString(const std::string&, const std::string&, const std::string&, bool) override { return true; }
  bool DeleteValue(const std::string&, const std::string&) override { return true; }
};

class SilentSound final : public ISoundPlayer {
 public:
  void Stop() override {}
  void Close() override {}
  bool SetFileName(const std::string&) override { return true; }
  void Play() override {}
};

class StillClock final : public IClock {
 public:
  double Now() const override { return 739589.75; }
};

// A new, empty folder below the temp folder, ending in a backslash; `name`
// may hold any cp1251 text.
inline std::string NewTempFolder(const std::string& name = "zelt-update") {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static unsigned counter = GetTickCount();
  for (int tries = 0; tries < 1000; ++tries) {
    const std::wstring dir = std::wstring(base) + Widen(name) + L"-" + std::to_wstring(GetCurrentProcessId()) +
                             L"-" + std::to_wstring(++counter) + L"\\";
    if (CreateDirectoryW(dir.c_str(), nullptr)) return Narrow(dir);
  }
  return {};
}

// Removes a folder made by NewTempFolder with everything in it.
inline void RemoveTree(const std::string& dir) {
  const std::wstring wdir = Widen(dir);
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((wdir + L"*").c_str(), &fd);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring entry = fd.cFileName;
      if (entry == L"." || entry == L"..") continue;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(Narrow(wdir + entry + L"\\"));
      else
        DeleteFileW((wdir + entry).c_str());
    } while (FindNextFileW(find, &fd));
    FindClose(find);
  }
  RemoveDirectoryW(wdir.c_str());
}

inline bool FileExists(const std::string& path) {
  return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(Widen(path).c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(Widen(path).c_str(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The folder of the running test program, ending in a backslash.
inline std::string TestProgramDir() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self, n);
  dir.resize(dir.find_last_of(L"\\/") + 1);
  return Narrow(dir);
}

// The update files the build makes, beside the tests' folder.
inline std::string UpdateFile(const std::string& name) { return TestProgramDir() + "..\\update-files\\" + name; }

// Some bytes that are not all alike, so a misplaced chunk shows.
inline std::string PatternBytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
  return s;
}

inline void Pump(TApplication& app, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    app.ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// Pumps until the condition holds, at most `ms` milliseconds; returns the condition.
inline bool PumpUntil(TApplication& app, const std::function<bool()>& done, int ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    app.ProcessMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// Runs `f` once from inside whatever message loop runs `ms` from now (a
// modal window's): the way a test acts while ShowModal blocks it.
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
inline void RunLater(std::function<void()> f, UINT ms = 20) {
  LaterQueue().push_back(std::move(f));
  SetTimer(nullptr, 0, ms, LaterProc);
}

// A click on a button as a user makes it: the control posts its own
// notification to its parent.
inline void ClickButton(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

inline void PostKey(HWND target, UINT vk) {
  PostMessageW(target, WM_KEYDOWN, vk, 1);
  PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

// The shell reports a failed start in an error box of its own, on the
// calling thread, before the program shows its message. While one of these
// lives, such boxes are answered with OK as they appear and their texts kept.
class ShellBoxCloser {
 public:
  ShellBoxCloser() {
    Current() = this;
    timer_ = SetTimer(nullptr, 0, 50, &ShellBoxCloser::Tick);
  }
  ~ShellBoxCloser() {
    KillTimer(nullptr, timer_);
    Current() = nullptr;
  }
  ShellBoxCloser(const ShellBoxCloser&) = delete;
  ShellBoxCloser& operator=(const ShellBoxCloser&) = delete;

  std::vector<std::string> Texts;

 private:
  static ShellBoxCloser*& Current() {
    static ShellBoxCloser* current = nullptr;
    return current;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), &ShellBoxCloser::Found, 0);
  }
  static BOOL CALLBACK Found(HWND hwnd, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (std::wstring(cls) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
    std::string text;
    EnumChildWindows(
        hwnd,
        [](HWND child, LPARAM out) -> BOOL {
          wchar_t c[16] = {};
          GetClassNameW(child, c, 16);
          wchar_t t[512] = {};
          GetWindowTextW(child, t, 512);
          if (_wcsicmp(c, L"Static") == 0 && t[0]) *reinterpret_cast<std::string*>(out) = Narrow(t);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    if (Current()) Current()->Texts.push_back(text);
    PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
    return TRUE;
  }
  UINT_PTR timer_ = 0;
};

// What the screen shows of a window, as a PNG in screenshots\ below the
// test's working folder (the build tree).
inline bool SaveWindowPng(HWND hwnd, const std::string& name) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT rc;
  GetWindowRect(hwnd, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return false;
  CreateDirectoryW(L"screenshots", nullptr);
  const std::wstring path = L"screenshots\\" + Widen(name) + L".png";
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
      SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
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

// The application, a checker over fake ports and the seams answered here.
class UpdateFixture : public ::testing::Test {
 protected:
  static constexpr const char* kBase = "http://update.test";
  static constexpr const char* kCaption = "Zelt Rarazovo 0.4";

  struct Box {
    HWND owner;
    std::string text, caption;
    UINT flags;
  };
  struct Launch {
    HWND owner;
    ULONG mask;
    std::string verb, file;
    bool hasParameters, hasDirectory;
    int show;
  };

  void SetUp() override {
    SetDpiOverride(96);
    programDir = NewTempFolder();
    app = std::make_unique<TApplication>(kCaption);
    checker = std::make_unique<TChecker>(CheckerPorts{*app, transport, app->CreateTimer(), registry, sound, clock,
                                                      programDir, programDir + "ZeltInformer.exe"});
    SetMessageBoxHook([this](HWND owner, const std::string& text, const std::string& caption, UINT flags) {
      boxes.push_back({owner, text, caption, flags});
      return IDOK;
    });
    SetShellExecuteExHook([this](SHELLEXECUTEINFOW& info) {
      launches.push_back({info.hwnd, info.fMask, info.lpVerb ? Narrow(info.lpVerb) : "",
                          info.lpFile ? Narrow(info.lpFile) : "", info.lpParameters != nullptr,
                          info.lpDirectory != nullptr, info.nShow});
      info.hProcess = nullptr;
      return true;
    });
    SetFileDialogHook([this](FileDialogKind kind, const TFileDialogRequest& request, std::string& path) {
      dialogs.push_back({kind, request});
      if (dialogAnswer.empty()) return false;
      path = dialogAnswer;
      return true;
    });
  }

  void TearDown() override {
    // Requests still waiting in the fake network end now; the transport
    // outlives them all.
    transport.ReleaseAll();
    EXPECT_TRUE(transport.WaitIdle());
    checker.reset();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message != WM_QUIT) DispatchMessageW(&msg);
    }
    app.reset();
    SetMessageBoxHook(nullptr);
    SetShellExecuteExHook(nullptr);
    SetFileDialogHook(nullptr);
    SetDpiOverride(0);
    RemoveTree(programDir);
  }

  TUpdateEnv Env() { return TUpdateEnv{*checker, transport, *app, kBase, openDownload, runPatch}; }

  struct Dialog {
    FileDialogKind kind;
    TFileDialogRequest request;
  };

  std::string programDir;
  ScriptedTransport transport;
  NullRegistry registry;
  SilentSound sound;
  StillClock clock;
  std::unique_ptr<TApplication> app;
  std::unique_ptr<TChecker> checker;
  std::function<void()> openDownload;
  std::function<void()> runPatch;
  std::string dialogAnswer;
  std::vector<Box> boxes;
  std::vector<Launch> launches;
  std::vector<Dialog> dialogs;
};

}  // namespace zelt::updatetest
