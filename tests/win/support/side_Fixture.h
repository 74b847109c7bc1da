// What the side-window tests share: a TChecker on the real application
// object (GUI queue and timer) with a temporary program folder, an in-memory
// registry, a recording sound port, a fixed clock and a transport that
// records every request and fails it; typing, key and mouse input posted the
// way the system delivers it; and window pictures written as PNG files.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/DataFile.h"
#include "core/FileIO.h"
#include "core/Text_win.h"
#include "core/uChecker.h"
#include "widgets/Application.h"

namespace zelt::side_test {

class MapRegistry final : public IRegistry {
 public:
  bool WriteString(const std::string& key, const std::string& name, const std::string& value, bool) override {
    values[key + "\\" + name] = value;
    return true;
  }
  bool DeleteValue(const std::string& key, const std::string& name) override {
    return values.erase(key + "\\" + name) > 0;
  }
  std::map<std::string, std::string> values;
};

class SoundRecorder final : public ISoundPlayer {
 public:
  void Stop() override { calls.push_back("stop"); }
  void Close() override { calls.push_back("close"); }
  bool SetFileName(const std::string& path) override {
    calls.push_back("open " + path);
    return true;
  }
  void Play() override { calls.push_back("play"); }
  std::vector<std::string> calls;
};

class FixedClock final : public IClock {
 public:
  double Now() const override { return 739955.5; }
};

// Records the host, port and path (with the query) of each request, then
// fails it as a refused connection would. Application-wide, as a transport
// must outlive every request started on it.
class RecordingTransport final : public IHttpTransport {
 public:
  struct Request {
    std::string host;
    uint16_t port;
    std::string path;
  };

  static RecordingTransport& Instance() {
    static auto* t = new RecordingTransport;  // never destroyed: requests may end late
    return *t;
  }

  void Reset() {
    std::lock_guard<std::mutex> l(lock_);
    requests_.clear();
  }
  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> l(lock_);
    return requests_;
  }
  // Waits (bounded) until `n` requests have been made, servicing the GUI
  // thread's messages meanwhile.
  bool WaitForRequests(size_t n, TApplication& app) {
    for (int i = 0; i < 1000; ++i) {
      if (Requests().size() >= n) return true;
      app.ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  HttpHandle Open(const std::string&, uint32_t, const std::string*) override { return NewHandle(); }
  HttpHandle Connect(HttpHandle, const std::string& host, uint16_t port, const std::string&,
                     const std::string&) override {
    std::lock_guard<std::mutex> l(lock_);
    host_ = host;
    port_ = port;
    return reinterpret_cast<HttpHandle>(++handles_);
  }
  HttpHandle OpenRequest(HttpHandle, const std::string& path, uint32_t) override {
    std::lock_guard<std::mutex> l(lock_);
    requests_.push_back({host_, port_, path});
    return reinterpret_cast<HttpHandle>(++handles_);
  }
  bool AddRequestHeaders(HttpHandle, const std::string&, uint32_t) override { return true; }
  bool SendRequest(HttpHandle) override { return false; }
  bool QueryInfo(HttpHandle, uint32_t, char*, uint32_t*) override { return false; }
  bool ReadFile(HttpHandle, char*, uint32_t, uint32_t* read) override {
    *read = 0;
    return false;
  }
  void CloseHandle(HttpHandle) override {}
  uint32_t LastError() override { return 12029; }  // ERROR_INTERNET_CANNOT_CONNECT

 private:
  HttpHandle NewHandle() {
    std::lock_guard<std::mutex> l(lock_);
    return reinterpret_cast<HttpHandle>(++handles_);
  }
  std::mutex lock_;
  std::vector<Request> requests_;
  std::string host_;
  uint16_t port_ = 0;
  uintptr_t handles_ = 0;
};

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static int serial = 0;
    path_ = std::wstring(base) + L"zelt-side-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++serial) + L"\\";
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempDir() { RemoveTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // cp1251, ending in a backslash.
  std::string Path() const { return Narrow(path_); }

 private:
  static void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(dir + name + L"\\");
        } else {
          DeleteFileW((dir + name).c_str());
        }
      } while (FindNextFileW(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
  }
  std::wstring path_;
};

// The application object, a temporary program folder and a Checker on them.
class CheckerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TApplication>("Zelt Rarazovo 0.4");
    RecordingTransport::Instance().Reset();
  }
  void TearDown() override {
    checker.reset();
    if (app) app->ProcessMessages();
    app.reset();
  }

  // Creates the Checker, which loads data.dat from the folder if present.
  TChecker& MakeChecker() {
    checker = std::make_unique<TChecker>(CheckerPorts{*app, RecordingTransport::Instance(), app->CreateTimer(),
                                                      registry, sound, clock, dir.Path(),
                                                      dir.Path() + "ZeltInformer.exe"});
    return *checker;
  }

  std::string DataPath() const { return dir.Path() + "data.dat"; }
  // data.dat as bytes; empty when there is none.
  std::string DataBytes() const {
    std::string bytes;
    ReadFileBytes(DataPath(), bytes);
    return bytes;
  }
  bool DataExists() const { return GetFileAttributesW(Widen(DataPath()).c_str()) != INVALID_FILE_ATTRIBUTES; }
  void WriteData(const TDataImage& image) { ASSERT_TRUE(ReplaceFileBytes(DataPath(), SerializeDataImage(image))); }
  // data.dat as the program would read it.
  TDataImage ReadData() const {
    TDataImage image;
    ParseDataImage(DataBytes(), image);
    return image;
  }
  // The last-write time of data.dat, or 0 when there is none.
  uint64_t DataStamp() const {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    if (!GetFileAttributesExW(Widen(DataPath()).c_str(), GetFileExInfoStandard, &a)) return 0;
    return (uint64_t{a.ftLastWriteTime.dwHighDateTime} << 32) | a.ftLastWriteTime.dwLowDateTime;
  }
  // Dates data.dat back to 2001, so that any later write shows.
  void AgeData() {
    HANDLE h = CreateFileW(Widen(DataPath()).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SYSTEMTIME st{2001, 1, 0, 1, 12, 0, 0, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
  }

  TempDir dir;
  MapRegistry registry;
  SoundRecorder sound;
  FixedClock clock;
  std::unique_ptr<TApplication> app;
  std::unique_ptr<TChecker> checker;
};

// --- input as the system delivers it ---

// Characters typed into a window: each one posted as WM_CHAR and handled.
inline void Type(TApplication& app, HWND target, const std::string& cp1251) {
  for (wchar_t c : Widen(cp1251)) PostMessageW(target, WM_CHAR, c, 1);
  app.ProcessMessages();
}

// A key pressed and released in a window (through the message loop, so the
// forms' key preview sees it).
inline void KeyDown(TApplication& app, HWND target, UINT vk) {
  PostMessageW(target, WM_KEYDOWN, vk, 1);
  app.ProcessMessages();
}
inline void KeyUp(TApplication& app, HWND target, UINT vk) {
  PostMessageW(target, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001));
  app.ProcessMessages();
}
inline void Press(TApplication& app, HWND target, UINT vk) {
  KeyDown(app, target, vk);
  KeyUp(app, target, vk);
}

// A left click on a control (button, check box).
inline void Click(TApplication& app, HWND control) {
  SendMessageW(control, BM_CLICK, 0, 0);
  app.ProcessMessages();
}

// The centre of a window, in screen coordinates.
inline POINT CentreOf(HWND hwnd) {
  RECT rc;
  GetWindowRect(hwnd, &rc);
  return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

// Runs `step` and then the message loop until `done` answers true, at most
// about five seconds; returns what `done` answered last.
inline bool PumpUntil(TApplication& app, const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    app.ProcessMessages();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// --- pictures ---

// The window as it is on the screen, written as a PNG file into
// "side-screenshots\" under the working folder (the build tree). Returns the
// path, or an empty string when the picture could not be written.
inline std::string Screenshot(TApplication& app, HWND hwnd, const std::string& name) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  for (int i = 0; i < 10; ++i) {
    app.ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  RECT rc;
  GetWindowRect(hwnd, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);

  CreateDirectoryW(L"side-screenshots", nullptr);
  const std::wstring file = L"side-screenshots\\" + Widen(name) + L".png";
  bool ok = false;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IWICImagingFactory* factory = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory)))) {
    IWICBitmap* source = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    if (SUCCEEDED(factory->CreateBitmapFromHBITMAP(bmp, nullptr, WICBitmapIgnoreAlpha, &source)) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->WriteSource(source, nullptr)) && SUCCEEDED(frame->Commit()) &&
        SUCCEEDED(encoder->Commit())) {
      ok = true;
    }
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    if (source) source->Release();
    factory->Release();
  }
  DeleteObject(bmp);
  return ok ? Narrow(file) : std::string();
}

}  // namespace zelt::side_test
