// What the side-window tests share: a TChecker on the real application
// object (GUI queue and timer) with a temporary program folder and the fake
// ports of the window harness (registry map, sound recorder, fixed clock),
// plus a transport that records every request before failing it; data.dat
// helpers; typing and keys posted the way the system delivers them; window
// pictures.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/DataFile.h"
#include "core/FileIO.h"
#include "base/Text_win.h"
#include "core/uChecker.h"
#include "tests/win/support/ui_harness.h"
#include "widgets/Application.h"

namespace zelt::side_test {

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

// The application object, a temporary program folder and a Checker on them.
class CheckerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::TempFolder();
    app = std::make_unique<TApplication>("Zelt Rarazovo 0.4");
    RecordingTransport::Instance().Reset();
  }
  void TearDown() override {
    checker.reset();
    if (app) app->ProcessMessages();
    app.reset();
    DeleteFileW(Widen(dir + "data.dat.tmp").c_str());
    test::RemoveTempFolder(dir);
  }

  // Creates the Checker, which loads data.dat from the folder if present.
  TChecker& MakeChecker() {
    checker = std::make_unique<TChecker>(CheckerPorts{*app, RecordingTransport::Instance(), app->CreateTimer(),
                                                      registry, sound, clock, dir, dir + "ZeltInformer.exe"});
    return *checker;
  }

  std::string DataPath() const { return dir + "data.dat"; }
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
    HANDLE h = CreateFileW(Widen(DataPath()).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SYSTEMTIME st{2001, 1, 0, 1, 12, 0, 0, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
  }

  std::string dir;  // the program's folder, ending in a backslash
  test::MapRegistry registry;
  test::RecordingSound sound;
  test::FixedClock clock;
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

// --- pictures ---

// The window as the screen shows it, as screenshots\side-<name>.png under the
// working folder (the build tree); the path, or empty when it was not written.
inline std::string Screenshot(TApplication& app, HWND hwnd, const std::string& name) {
  test::PumpFor(app, 200);
  return test::SaveWindowPng(hwnd, "side-" + name) ? test::ShotPath("side-" + name) : std::string();
}

}  // namespace zelt::side_test
