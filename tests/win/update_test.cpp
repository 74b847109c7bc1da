// The update windows over the scripted network: the description and the two
// sizes in any order, what is offered (nothing without a key), failures and
// closing; the download of the patch (staged where nobody else can touch it,
// held and started) or of the full setup (saved where the dialog says), each
// only with its signed manifest; and the shell's answer to the patch's start.

#include <algorithm>
#include <array>
#include <fstream>

#include "tests/support/Win.h"
#include "ui/uDownloaderForm.h"
#include "ui/uUpdateInfo.h"

namespace zelt::fake {
namespace {

const std::string kRtf = "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0\\fcharset204 Arial;}}\\f0 Новая версия 0.5\\par}";
const std::string kSetupText = "Загрузить полный установочный файл";
const std::string kPatchText = "Загрузить только файл - патч";
const std::string kShown = "Новая версия 0.5";  // the description, as the window shows it

class Update : public WinCheckerTest {
 protected:
  void SetUp() override {
    TDataImage proxy;  // the requests go through the program's own proxy
    static_cast<TSettings&>(proxy) = {.ProxyPort = 8080, .ProxyServer = "proxy.local"};
    WriteData(proxy);
    Make();
    // The patch started is recorded with whether it was held against
    // writing, replacing and deleting while it started; nothing starts.
    desktop.Starting = [this](SHELLEXECUTEINFOW& i) {
      ++patchesRun;
      started = i.lpFile;
      const HANDLE w = CreateFileW(i.lpFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
      held = w == INVALID_HANDLE_VALUE && !DeleteFileW(i.lpFile) && !MoveFileW(i.lpFile, (started.wstring() + L"x").c_str());
      if (w != INVALID_HANDLE_VALUE) CloseHandle(w);
      startedBytes = ReadText(NameOf(started));
      i.hProcess = nullptr;
      return true;
    };
    Serve({.body = kRtf}, {.body = std::string(5000, 's')}, {.body = std::string(700, 'p')});
  }
  // The description, the setup and the patch, once the window before and its
  // requests have ended; earlier replies and requests forgotten.
  void Serve(const Reply& description, const Reply& setup, const Reply& patch) {
    info.reset();
    ASSERT_TRUE(WaitIdle());
    http.Reset();
    http.Serve(kUpdateInfoPath, description);
    http.Serve(kUpdateSetupPath, setup);
    http.Serve(kUpdatePatchPath, patch);
  }
  void TearDown() override {
    http.Release();
    info.reset();
    download.reset();
    WinCheckerTest::TearDown();
  }
  // The windows' context; the download window's opening is counted with
  // the choice it is handed.
  TWindowContext Env(TUpdateChoice choice = TUpdateChoice::Patch) {
    TWindowContext context = Context(nullptr);
    context.Choice = choice;
    context.OpenDownload = [this](TUpdateChoice c) {
      ++downloadsOpened;
      chosen = c;
    };
    return context;
  }
  std::string Shown() {
    std::string t = info->Description().PlainText();
    while (!t.empty() && (t.back() == '\r' || t.back() == '\n')) t.pop_back();
    return t;
  }
  // "setup label/enabled/checked|patch ...|download enabled"
  std::string Offer() {
    auto choice = [](TChoiceButton& b) {
      return b.Text() + (b.Enabled() ? " on" : " off") + (b.Checked() ? " checked" : "");
    };
    return choice(info->SetupChoice()) + "|" + choice(info->PatchChoice()) + "|" +
           (info->DownloadButton().Enabled() ? "download" : "nothing");
  }
  // Shows the download window until it closes itself; a failure shown ends the wait.
  void ShowUntilDone() {
    download->Show(true);
    ASSERT_TRUE(PumpUntil(*app, [&] { return !desktop.Boxes.empty() || !download->Visible(); }));
    EXPECT_TRUE(desktop.Boxes.empty()) << desktop.Boxes[0].Text;
  }

  std::unique_ptr<TUpdateInfo> info;
  std::unique_ptr<TDownloaderForm> download;
  int downloadsOpened = 0, patchesRun = 0;
  TUpdateChoice chosen = TUpdateChoice::Patch;
  std::filesystem::path started;
  std::string startedBytes;
  bool held = false;
};

TEST_F(Update, TheAnswersInAnyOrderCompleteTheWindowOnce) {
  std::array<std::string, 3> order{kUpdateInfoPath, kUpdatePatchPath, kUpdateSetupPath};
  std::sort(order.begin(), order.end());
  do {
    SCOPED_TRACE(order[0] + " " + order[1] + " " + order[2]);
    Serve({.body = kRtf, .holdAt = Step::Send}, {.body = std::string(1536 * 1024, 's'), .holdAt = Step::Send},
          {.body = std::string(2048, 'p'), .holdAt = Step::Send});
    checker->ResetTraffic();
    info = std::make_unique<TUpdateInfo>(Env());
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(http.WaitHeld(order[static_cast<size_t>(i)]));
      http.Release(order[static_cast<size_t>(i)]);
      ASSERT_TRUE(PumpUntil(*app, [&] { return info->Answers() == i + 1; }));
      if (i < 2) {
        EXPECT_EQ(Shown(), "Подождите...");
        EXPECT_EQ(Offer(), kSetupText + " off|" + kPatchText + " off|nothing") << "nothing before all three";
      }
    }
    EXPECT_EQ(Shown(), kShown);
    EXPECT_EQ(Offer(), kSetupText + " (1.5 MB) on checked|" + kPatchText + " (2 KB) on|download");
    EXPECT_EQ(checker->Traffic().UpdateInBytes, kRtf.size()) << "the sizes cost no traffic";
    EXPECT_EQ(checker->Traffic().UpdateTotalBytes, kRtf.size() + 544u);
    for (const Request& r : http.Requests())
      EXPECT_EQ(r.agent + "|" + r.proxy + "|" + r.host, "Zelt Rarazovo 0.4|http=proxy.local:8080|update.test");
  } while (std::next_permutation(order.begin(), order.end()));
}

// The sizes decide what is offered; a failed request (a 404, a description
// too long) shows its code, and then nothing is offered whatever the other
// answers say.
TEST_F(Update, TheSizesDecideWhatIsOfferedAndAFailureShowsItsCode) {
  const Reply rtf{.body = kRtf}, none{.body = "x", .announce = false}, empty{.lengthText = "0"},
      small{.body = std::string(1000, 's')}, missing{.status = 404},
      tooLong{.body = std::string(kMaxDescriptionBytes + 1, 'd')};
  const std::string off = kSetupText + " off|" + kPatchText + " off|nothing";
  auto failed = [](int code) { return "Ошибка связи " + std::to_string(code) + "\r\nНе могу получить описание новой версии."; };
  const struct {
    Reply description, setup, patch;
    std::string shown, offer;
  } cases[] = {
      {rtf, empty, small, kShown, kSetupText + " (0 B) off|" + kPatchText + " (1000 B) on checked|download"},
      {rtf, empty, empty, kShown, kSetupText + " (0 B) off|" + kPatchText + " (0 B) off|nothing"},
      {rtf, none, empty, kShown, kSetupText + " (4 GB) on checked|" + kPatchText + " (0 B) off|download"},
      {rtf, small, missing, failed(12003), off},
      {tooLong, small, small, failed(223), off},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offer);
    Serve(c.description, c.setup, c.patch);
    info = std::make_unique<TUpdateInfo>(Env());
    ASSERT_TRUE(PumpUntil(*app, [&] { return Shown() == c.shown; })) << Shown();
    ASSERT_TRUE(WaitIdle());
    app->ProcessMessages();
    EXPECT_EQ(Shown(), c.shown) << "the other answers change nothing";
    EXPECT_EQ(Offer(), c.offer);
  }
}

TEST_F(Update, DownloadStoresTheChoiceAndHandsOverToTheDownloadWindow) {
  for (bool patch : {false, true}) {
    info = std::make_unique<TUpdateInfo>(Env());
    ASSERT_TRUE(PumpUntil(*app, [&] { return info->DownloadButton().Enabled(); }));
    if (patch) {  // the arrow keys pass by a choice not offered, and choose one that is
      info->PatchChoice().SetEnabled(false);
      KeyDown(*app, info->SetupChoice().Handle(), VK_DOWN);
      EXPECT_TRUE(info->SetupChoice().Checked());
      info->PatchChoice().SetEnabled(true);
      KeyDown(*app, info->SetupChoice().Handle(), VK_DOWN);
    }
    EXPECT_EQ(info->SetupChoice().Checked(), !patch) << "one choice at a time";
    RunLater([&] { Click(*app, info->DownloadButton().Handle()); });
    info->ShowModal();  // returns once the window has closed itself
    EXPECT_EQ(chosen, patch ? TUpdateChoice::Patch : TUpdateChoice::FullSetup);
    EXPECT_EQ(downloadsOpened, patch ? 2 : 1);
  }
  RunLater([&] { Click(*app, info->CancelButton().Handle()); });
  info->ShowModal();
  EXPECT_EQ(downloadsOpened, 2) << "Отмена opens nothing";
}

TEST_F(Update, TheFullSetupGoesWhereTheSaveDialogSaysAndIsNotStarted) {
  const std::string target = dir.Path() + "Загрузки - setup.zip";
  std::ofstream(dir / "Загрузки - setup.zip") << "an existing file the user agreed to replace, and longer";
  desktop.DialogAnswer = target;
  const std::string setup = Signed("ZeltInformerSetup.zip"), manifest = std::string(kUpdateSetupPath) + ".sig";
  http.Serve(kUpdateSetupPath, {.body = setup});
  http.Serve(manifest, {.body = Signed("ZeltInformerSetup.zip.sig")});
  download = std::make_unique<TDownloaderForm>(Env(TUpdateChoice::FullSetup));
  EXPECT_EQ(desktop.Dialogs, std::vector<TFileDialogKind>{TFileDialogKind::Save});
  ShowUntilDone();
  EXPECT_EQ(ReadText(target), setup);
  EXPECT_EQ(patchesRun, 0);
}

// Only a whole patch with its manifest is staged and started: Отмена or the
// close button during the download leave none. The patch started is the body
// verified, under the user's temporary folder, held against any change until
// started; nothing is written beside the program.
TEST_F(Update, OnlyAVerifiedPatchIsStagedHeldAndStarted) {
  const std::string patch = Signed("files.zip"), manifest = std::string(kUpdatePatchPath) + ".sig";
  enum End { Whole, Cancel, CloseButton };
  for (End end : {Whole, Cancel, CloseButton}) {
    SCOPED_TRACE(end);
    patchesRun = 0;
    checker->ResetTraffic();
    http.Reset();
    // Stopped downloads are watched on a body of a known size; the whole patch
    // comes in 52 reads of 2 s: 104 s, within its two minutes.
    const bool stopped = end != Whole;
    http.Serve(kUpdatePatchPath, stopped ? Reply{.body = std::string(10000, 'p'), .holdAt = Step::Read, .after = 4096}
                                         : Reply{.body = patch, .readMs = 2000});
    http.Serve(manifest, {.body = Signed("files.zip.sig")});
    download = std::make_unique<TDownloaderForm>(Env(TUpdateChoice::Patch));
    EXPECT_TRUE(desktop.Dialogs.empty());
    if (stopped) {
      RunLater([&] {
        ASSERT_TRUE(PumpUntil(*app, [&] { return http.Held() && download->Progress().Position() == 40; }));
        EXPECT_EQ(download->StripTitle(), "Загрузка обновления (9.77 KB)");
        EXPECT_EQ(download->Progress().Text(), "4 KB");
        Press(*app, download->Handle(), VK_ESCAPE);
        EXPECT_TRUE(download->Visible()) << "only Отмена and the close button end it";
        Click(*app, end == Cancel ? download->CancelButton().Handle() : download->Strip().CloseButton().Handle());
        EXPECT_FALSE(download->Download().Busy()) << "stopped before the click returned";
      });
      download->ShowModal();
    } else {
      ShowUntilDone();
    }
    http.Release();  // a stopped request goes on in the network; what it reads reaches nothing
    ASSERT_TRUE(WaitIdle());
    app->ProcessMessages();
    EXPECT_EQ(patchesRun, end == Whole ? 1 : 0);
    EXPECT_FALSE(std::filesystem::exists(checker->ProgramDir() + L"sfx.exe"));
    if (stopped) {
      EXPECT_EQ(checker->Traffic().UpdateInBytes, 0u);
      EXPECT_TRUE(desktop.Boxes.empty());
      continue;
    }
    EXPECT_EQ(startedBytes, patch);
    EXPECT_TRUE(held);
    EXPECT_EQ(started.filename(), "sfx.exe");
    EXPECT_EQ(started.parent_path().parent_path(), std::filesystem::temp_directory_path().parent_path());
    EXPECT_EQ(started.parent_path().filename().wstring().rfind(kPatchFolderPrefix.Wide, 0), 0u);
    EXPECT_EQ(download->CancelButton().Text(), "Завершено");
    EXPECT_EQ(checker->Traffic().UpdateInBytes, patch.size() + Signed("files.zip.sig").size());
    // Let go once started; the program's next start removes it.
    RemoveStagedPatches();
    EXPECT_FALSE(std::filesystem::exists(started.parent_path()));
  }
}

// What the shell is asked (the patch, the program's folder) is the installed
// program's update test's; here, that a failed start shows the system's
// words for the error.
TEST_F(Update, AFailedStartOfThePatchSaysWhy) {
  desktop.Starting = [&](SHELLEXECUTEINFOW& i) {
    i.hInstApp = reinterpret_cast<HINSTANCE>(SE_ERR_PNF);
    SetLastError(ERROR_SUCCESS);
    return false;
  };
  EXPECT_FALSE(LaunchUpdate(*app, Widen(dir.Path() + "ZeltUpdate-1\\sfx.exe"), Widen(dir.Path())));
  ASSERT_EQ(desktop.Boxes.size(), 1u);
  EXPECT_EQ(desktop.Boxes[0].Text, SystemErrorText(ERROR_PATH_NOT_FOUND)) << "the shell's code when it set no error";
  EXPECT_NE(desktop.Boxes[0].Text.back(), '\n');
}

// Changed between its writing and its hold, the patch is not what was
// verified: it is refused and removed.
TEST(StagedPatch, WhatIsHeldIsReadBackAgainstTheVerifiedBytes) {
  for (const std::string& meanwhile : {std::string("MZ verified"), std::string("MZ another"), std::string()}) {
    TStagedPatch patch;
    ASSERT_TRUE(patch.Write("MZ verified"));
    std::ofstream(std::filesystem::path(patch.Path()), std::ios::binary) << meanwhile;
    EXPECT_EQ(patch.Hold("MZ verified"), meanwhile == "MZ verified") << meanwhile;
    EXPECT_EQ(std::filesystem::exists(std::filesystem::path(patch.Path()).parent_path()), meanwhile == "MZ verified");
  }
  RemoveStagedPatches();
}

}  // namespace
}  // namespace zelt::fake
