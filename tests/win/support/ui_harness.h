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

#include "base/Text_win.h"
#include "tests/win/support/win_harness.h"
#include "core/uChecker.h"
#include "base/uZELTIMessages.h"
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

// A control sits at `expected` (left, top, right, bottom) in its window.
inline void ExpectPlaced(HWND control, HWND window, const RECT& expected) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, expected.left);
  EXPECT_EQ(r.top, expected.top);
  EXPECT_EQ(r.right, expected.right);
  EXPECT_EQ(r.bottom, expected.bottom);
}

inline HWND HeaderOf(HWND list) { return reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)); }

}  // namespace zelt::test
