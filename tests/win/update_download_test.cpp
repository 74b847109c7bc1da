// The update download window driven in-process: the patch written beside the
// program and started, the full setup archive saved where the dialog says,
// the title, the progress, the traffic, "Отмена" and the close button during
// the download, and a failed download.
#include <windows.h>
#include <commdlg.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Traffic.h"
#include "tests/win/support/update_harness.h"
#include "ui/uDownloaderForm.h"

namespace zelt::updatetest {
namespace {

const std::string kSetup = "/ZeltInformer/ZeltInformerSetup.zip";
const std::string kPatch = "/ZeltInformer/files.zip";

class DownloaderTest : public UpdateFixture {
 protected:
  void TearDown() override {
    window.reset();
    UpdateFixture::TearDown();
  }
  void Open() { window = std::make_unique<TDownloaderForm>(nullptr, Env()); }
  // Shows the window modally, acting from inside its loop; returns when it has closed.
  void RunModal(std::function<void()> act = nullptr) {
    if (act) RunLater(std::move(act));
    window->ShowModal();
  }

  std::unique_ptr<TDownloaderForm> window;
};
using update_download = DownloaderTest;

TEST_F(update_download, PatchIsWrittenBesideTheProgramAndStarted) {
  const std::string patch = PatternBytes(10000);
  WriteAll(programDir + "sfx.exe", "an older patch, longer than nothing at all");
  FakeReply reply;
  reply.body = patch;
  reply.holdAfter = 4096;
  transport.Serve(kPatch, reply);
  checker->Tag = 0;
  Open();
  EXPECT_EQ(window->Target(), std::filesystem::path(programDir) / "sfx.exe");
  EXPECT_FALSE(window->FullSetup());
  EXPECT_TRUE(dialogs.empty());
  RunModal([&] {
    // Halfway: the size is in the title, the bar and its text follow the bytes.
    ASSERT_TRUE(PumpUntil(*app, [&] { return transport.Held(kPatch) && window->Progress().Position() == 40; }));
    EXPECT_EQ(window->StripTitle(), "Загрузка обновления (9.77 KB)");
    EXPECT_EQ(window->Progress().Text(), "4 KB");
    EXPECT_EQ(window->CancelButton().Text(), "Отмена");
    EXPECT_TRUE(launches.empty());
    EXPECT_TRUE(SaveWindowPng(window->Handle(), "update_download"));
    transport.Release(kPatch);
  });
  EXPECT_EQ(ReadFileBytes(programDir + "sfx.exe"), patch);
  EXPECT_EQ(window->CancelButton().Text(), "Завершено");
  EXPECT_EQ(window->Progress().Position(), 100);
  EXPECT_EQ(window->Progress().Text(), "9.77 KB");
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].file, programDir + "sfx.exe");
  EXPECT_EQ(launches[0].verb, "open");
  EXPECT_EQ(checker->UpdateInBytes, 10000u);
  EXPECT_EQ(checker->UpdateOutBytes, 544u);
  EXPECT_EQ(checker->UpdateTotalBytes, 10544u);
  EXPECT_TRUE(boxes.empty());
  const auto seen = transport.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].agent, "Zelt Rarazovo 0.4");
  EXPECT_EQ(seen[0].host, "update.test");
}

TEST_F(update_download, FullSetupGoesWhereTheSaveDialogSaysAndNothingIsStarted) {
  const std::string archive = PatternBytes(5000);
  const std::string target = programDir + "Загрузки - setup.zip";
  WriteAll(target, "an existing file that the user agreed to replace, longer than the new one? no");
  transport.Serve(kSetup, {200, archive});
  checker->Tag = 1;
  dialogAnswer = target;
  Open();
  ASSERT_EQ(dialogs.size(), 1u);
  const TFileDialogRequest& r = dialogs[0].request;
  EXPECT_EQ(dialogs[0].kind, FileDialogKind::Save);
  EXPECT_EQ(r.Title, "Куда сохранить установочный файл?");
  EXPECT_EQ(r.FileName, "ZeltInformerSetup.zip");
  EXPECT_EQ(r.Owner, window->Handle());
  EXPECT_TRUE(r.Filters.empty());
  EXPECT_TRUE(r.InitialDir.empty());
  EXPECT_EQ(r.Flags & (OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST), static_cast<DWORD>(OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST));
  RunModal();
  EXPECT_EQ(ReadFileBytes(target), archive);
  EXPECT_FALSE(FileExists(programDir + "sfx.exe"));
  EXPECT_TRUE(launches.empty());
  EXPECT_EQ(window->CancelButton().Text(), "Завершено");
  EXPECT_EQ(checker->UpdateInBytes, 5000u);
  EXPECT_EQ(checker->UpdateOutBytes, 544u);
}

TEST_F(update_download, CancelledSaveDialogClosesAtOnceWithoutARequest) {
  transport.Serve(kSetup, {200, PatternBytes(100)});
  checker->Tag = 1;
  dialogAnswer.clear();
  Open();
  EXPECT_EQ(window->Download(), nullptr);
  RunModal();  // the close request waits in the queue: the loop ends at once
  EXPECT_TRUE(transport.Requests().empty());
  EXPECT_TRUE(launches.empty());
  EXPECT_EQ(checker->UpdateOutBytes, 0u);
}

TEST_F(update_download, WithoutContentLengthTheBarStandsAndItsTextCounts) {
  FakeReply reply;
  reply.body = PatternBytes(9000);
  reply.announceLength = false;
  reply.holdAfter = 8192;
  transport.Serve(kPatch, reply);
  checker->Tag = 0;
  Open();
  RunModal([&] {
    ASSERT_TRUE(PumpUntil(*app, [&] { return transport.Held(kPatch) && window->Progress().Text() == "8 KB"; }));
    EXPECT_EQ(window->StripTitle(), "Загрузка обновления (4 GB)");
    EXPECT_EQ(window->Progress().Position(), 0);
    transport.Release(kPatch);
  });
  EXPECT_EQ(window->Progress().Position(), 0);
  EXPECT_EQ(window->Progress().Text(), "8.79 KB");
  EXPECT_EQ(ReadFileBytes(programDir + "sfx.exe").size(), 9000u);
}

TEST_F(update_download, CancelOrCloseDuringTheDownloadWritesAndStartsNothing) {
  const std::vector<std::pair<const char*, std::function<void(TDownloaderForm&)>>> ways = {
      {"Отмена", [](TDownloaderForm& w) { ClickButton(w.CancelButton().Handle()); }},
      {"close button", [](TDownloaderForm& w) { ClickButton(w.Strip().CloseButton().Handle()); }},
  };
  for (const auto& [name, act] : ways) {
    SCOPED_TRACE(name);
    window.reset();
    transport.ReleaseAll();
    ASSERT_TRUE(transport.WaitIdle());
    transport.Reset();
    FakeReply reply;
    reply.body = PatternBytes(20000);
    reply.holdAfter = 4096;
    transport.Serve(kPatch, reply);
    checker->Tag = 0;
    Open();
    RunModal([&, act = act] {
      ASSERT_TRUE(PumpUntil(*app, [&] { return transport.Held(kPatch) && window->Progress().Position() > 0; }));
      act(*window);
      EXPECT_FALSE(window->Download()->Busy);  // stopped before the click returned
    });
    // The request goes on in the network after it was stopped; what it
    // reads there reaches nothing.
    transport.Release(kPatch);
    ASSERT_TRUE(transport.WaitIdle());
    PumpFor(*app, 100);
    EXPECT_FALSE(FileExists(programDir + "sfx.exe"));
    EXPECT_TRUE(launches.empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(checker->UpdateInBytes, 0u);
    EXPECT_EQ(window->CancelButton().Text(), "Отмена");
  }
}

TEST_F(update_download, EscapeDoesNotCloseTheWindow) {
  FakeReply reply;
  reply.body = PatternBytes(100);
  reply.holdAnswer = true;
  transport.Serve(kPatch, reply);
  checker->Tag = 0;
  Open();
  bool visibleAfterEscape = false;
  RunModal([&] {
    PostKey(window->Handle(), VK_ESCAPE);
    PumpFor(*app, 100);
    visibleAfterEscape = IsWindowVisible(window->Handle()) != FALSE;
    ClickButton(window->CancelButton().Handle());
  });
  EXPECT_TRUE(visibleAfterEscape);
}

TEST_F(update_download, FailedDownloadShowsTheMessageAndStaysOpen) {
  transport.Serve(kPatch, {404, "Not Found"});
  checker->Tag = 0;
  Open();
  bool openAfterBox = false;
  RunModal([&] {
    ASSERT_TRUE(PumpUntil(*app, [&] { return !boxes.empty(); }));
    PumpFor(*app, 50);
    openAfterBox = IsWindowVisible(window->Handle()) != FALSE;
    ClickButton(window->CancelButton().Handle());
  });
  EXPECT_TRUE(openAfterBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Произошла ошибка при загрузке.");
  EXPECT_EQ(boxes[0].caption, "Zelt Rarazovo 0.4");
  EXPECT_EQ(boxes[0].owner, app->Handle());
  EXPECT_EQ(boxes[0].flags & (MB_SETFOREGROUND | MB_TYPEMASK), static_cast<UINT>(MB_SETFOREGROUND | MB_OK));
  EXPECT_FALSE(FileExists(programDir + "sfx.exe"));
  EXPECT_TRUE(launches.empty());
  EXPECT_EQ(checker->UpdateOutBytes, 0u);
}

TEST_F(update_download, UnwritablePatchIsAFailedDownloadAndNothingStarts) {
  // The program's folder is gone: the patch cannot be written, which is a
  // failed download; an older "sfx.exe" elsewhere is never started instead.
  transport.Serve(kPatch, {200, PatternBytes(3000)});
  checker.reset();
  const std::string missingDir = programDir + "gone\\";
  checker = std::make_unique<TChecker>(CheckerPorts{*app, transport, app->CreateTimer(), registry, sound, clock,
                                                    missingDir, missingDir + "ZeltInformer.exe"});
  checker->Tag = 0;
  Open();
  RunModal([&] {
    ASSERT_TRUE(PumpUntil(*app, [&] { return !boxes.empty(); }));
    ClickButton(window->CancelButton().Handle());
  });
  EXPECT_FALSE(FileExists(missingDir + "sfx.exe"));
  EXPECT_TRUE(launches.empty());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Произошла ошибка при загрузке.");
  EXPECT_EQ(window->CancelButton().Text(), "Отмена");
}

}  // namespace
}  // namespace zelt::updatetest
