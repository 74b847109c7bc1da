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

#include "base/Text_win.h"
#include "core/uChecker.h"
#include "tests/win/support/update_transport.h"
#include "tests/win/support/win_harness.h"
#include "ui/LaunchUpdate.h"
#include "ui/uUpdateInfo.h"
#include "widgets/Application.h"
#include "widgets/Dpi.h"
#include "widgets/FileDialog.h"
#include "widgets/Shell.h"

namespace zelt::updatetest {

using test::FixedClock;
using test::MapRegistry;
using test::PostKey;
using test::PumpFor;
using test::ReadFileBytes;
using test::RecordingSound;
using test::RunLater;
using test::SaveWindowPng;

// Pumps until the condition holds, at most `ms` milliseconds (requests over
// the fake network take their time); returns the condition.
inline bool PumpUntil(TApplication& app, const std::function<bool()>& done, int ms = 10000) {
  return test::PumpUntil(app, done, ms);
}

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

// A click on a button as a user makes it: the control posts its own
// notification to its parent.
inline void ClickButton(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

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
  MapRegistry registry;
  RecordingSound sound;
  FixedClock clock;
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
