// What the in-process Windows tests share: the checker fixture on the real
// application object (its window is the GUI queue and carries the timer),
// the context side windows are made with, the main window over it, a desktop that records and answers what the
// windows ask of it (message boxes, links, started programs, file dialogs),
// input posted as the system delivers it, and the build's Python test
// servers run beside the test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "base/Text_win.h"
#include "base/uZELTIMessages.h"
#include "net/UpdateSignature_win.h"
#include "tests/support/CheckerFixture.h"
#include "tools/ScriptServer.h"
#include "ui/LaunchUpdate.h"
#include "ui/uInfoForm.h"
#include "ui/uMainForm.h"
#include "widgets/Application.h"
#include "widgets/Desktop.h"
#include "widgets/Dpi.h"
#include "widgets/ListView.h"

namespace zelt::fake {

// Runs the GUI thread's messages until done() holds; the limit only ends a hang.
inline bool PumpUntil(TApplication& app, const std::function<bool()>& done, int ms = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    app.ProcessMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// Keys and clicks as the system queues them, handled before returning.
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
inline void Click(TApplication& app, HWND button) {
  SendMessageW(button, BM_CLICK, 0, 0);
  app.ProcessMessages();
}

// Every window below `parent`, children's children included.
inline std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM lp) {
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&all));
  return all;
}

// A point inside a list's row, on its text.
inline POINT RowPoint(HWND list, int row) {
  RECT rc{LVIR_LABEL};
  SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rc));
  return POINT{rc.left + 10, (rc.top + rc.bottom) / 2};
}

// Each row of a list as the cells of `columns` joined by "|"; column -1
// is the row's picture.
inline std::vector<std::string> ListRows(TListView& list, std::initializer_list<int> columns) {
  std::vector<std::string> rows;
  for (int r = 0; r < list.Count(); ++r) {
    std::string row;
    for (int c : columns)
      row += (c == *columns.begin() ? "" : "|") + (c < 0 ? std::to_string(list.Image(r)) : list.Cell(r, c));
    rows.push_back(row);
  }
  return rows;
}

// Runs f once from inside whatever message loop runs `ms` from now (a modal
// window's, a menu's): how a test acts while a loop holds it. In order.
inline std::vector<std::function<void()>> laterQueue;
inline void RunLater(std::function<void()> f, UINT ms = 30) {
  laterQueue.push_back(std::move(f));
  SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (laterQueue.empty()) return;
    std::function<void()> f = std::move(laterQueue.front());
    laterQueue.erase(laterQueue.begin());
    if (f) f();
  });
}

// A package or its manifest as the build signed them with its throwaway key,
// as the next version.
inline std::string Signed(const std::string& name) {
  return ReadText(WindowsPath(BuildSetting("build")) + "\\update-files\\" + name);
}

// The desktop the windows reach through the application object: every box,
// opened link or file, and file dialog recorded and answered, nothing shown
// or started.
struct FakeDesktop final : IDesktop {
  struct Box {
    std::string Text, Caption;
  };
  std::vector<Box> Boxes;
  std::vector<std::pair<HWND, std::string>> Opened;  // paths as cp1251
  std::vector<TFileDialogKind> Dialogs;  // the kind of each file dialog asked for
  std::string DialogAnswer;  // what a file dialog picks; empty: cancelled
  // How a start request is answered; by default nothing starts and it succeeds.
  std::function<bool(SHELLEXECUTEINFOW& info)> Starting = [](SHELLEXECUTEINFOW& info) {
    info.hProcess = nullptr;
    return true;
  };

  void Open(HWND owner, const std::string& document) override { Opened.push_back({owner, document}); }
  void OpenFile(HWND owner, const std::wstring& path) override { Opened.push_back({owner, Narrow(path)}); }
  int Message(HWND, const std::string& text, const std::string& caption, UINT) override {
    Boxes.push_back({text, caption});
    return IDOK;
  }
  bool ChooseFile(TFileDialogKind kind, const TFileDialogRequest&, std::string& path) override {
    Dialogs.push_back(kind);
    path = DialogAnswer;
    return !path.empty();
  }
  bool Start(SHELLEXECUTEINFOW& info) override { return Starting(info); }
};

// The checker fixture on the application object, at 96 DPI.
class WinCheckerTest : public CheckerFixture {
 protected:
  WinCheckerTest() { SetDpiOverride(96); }
  ~WinCheckerTest() override { SetDpiOverride(0); }
  IGuiQueue& Gui() override { return *app; }
  std::unique_ptr<IPollTimer> NewTimer() override { return app->CreateTimer(); }
  // What a side window over the checker is made with: the build's update
  // key, the update server at http://update.test.
  TWindowContext Context(HWND owner) {
    return {.Owner = owner,
            .App = *app,
            .Checker = *checker,
            .Http = http,
            .UpdateUrl = "http://update.test",
            .UpdateKey = UpdateKeyFromHex(build::kUpdateKeyHex)};
  }
  // Until no request holds a handle, running what they send to the GUI meanwhile.
  bool WaitIdle() {
    return PumpUntil(*app, [&] { return !http.Held() && http.OpenHandles() == 0; });
  }
  void TearDown() override {
    checker.reset();
    http.Release();
    EXPECT_TRUE(WaitIdle()) << "a request did not end";
    CheckerFixture::TearDown();
    // Leave no message (and no quit request) behind for the next test.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message != WM_QUIT) DispatchMessageW(&msg);
  }

  FakeDesktop desktop;
  std::unique_ptr<TApplication> app = std::make_unique<TApplication>("Zelt Rarazovo 0.4", desktop);
};

// The main window and its popup over a checker of their own, as the program
// makes them; every request fails at once, as without a network.
class MainWindowTest : public WinCheckerTest {
 protected:
  void SetUp() override {
    http.SetDefault({.failAt = Step::Open});
    RegisterInstanceMessages();
    main = std::make_unique<TMainForm>(*app, [this] { return Ports(); }, userState);
    info = &main->Popup();
    ASSERT_TRUE(PumpUntil(*app, [&] { return !Checker().Request().Busy() && Checker().Traffic().LastOutBytes; }));
    app->ProcessMessages();
  }
  void TearDown() override {
    if (main && IsWindow(main->Handle())) SendMessageW(main->Handle(), WM_CLOSE, 0, 0);
    main.reset();
    WinCheckerTest::TearDown();
  }
  // The main window's checker.
  TChecker& Checker() { return *main->Checker(); }
  // A reply as if the server had sent it.
  void Reply(bool newVersion, const std::vector<Topic>& topics) {
    Checker().HandleReply(CompressedBody(ReplyText(newVersion, topics)));
  }
  TListView& List() { return main->TopicList(); }

  NotificationState userState;  // the user presents while Busy
  std::unique_ptr<TMainForm> main;
  TInfoForm* info = nullptr;
};

}  // namespace zelt::fake
