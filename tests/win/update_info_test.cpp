// The update information window driven in-process: its three requests over a
// scripted transport, the answers in every order, the sizes on the choices,
// the error text, closing while requests run, and "Загрузить".
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/Traffic.h"
#include "tests/win/support/update_harness.h"
#include "ui/uUpdateInfo.h"

namespace zelt::updatetest {
namespace {

const std::string kInfo = "/ZeltInformer/info.rtf";
const std::string kSetup = "/ZeltInformer/ZeltInformerSetup.zip";
const std::string kPatch = "/ZeltInformer/files.zip";
const std::string kRtf = "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fcharset204 Arial;}}\\f0 Новая версия 0.5\\par}";
const std::string kWait = "Подождите...";
const std::string kSetupText = "Загрузить полный установочный файл";
const std::string kPatchText = "Загрузить только файл - патч";

// The text of the box without the line end the control adds after the last paragraph.
std::string Shown(TUpdateInfo& w) {
  std::string t = w.Description().PlainText();
  while (!t.empty() && (t.back() == '\r' || t.back() == '\n')) t.pop_back();
  return t;
}

class UpdateInfoTest : public UpdateFixture {
 protected:
  void TearDown() override {
    window.reset();
    UpdateFixture::TearDown();
  }
  void Open() { window = std::make_unique<TUpdateInfo>(nullptr, Env()); }
  // Waits until the request of the path has ended and its report was applied.
  void Arrive(const std::string& path, int answers) {
    ASSERT_TRUE(transport.WaitEnded(path, 1)) << path;
    ASSERT_TRUE(PumpUntil(*app, [&] { return window->Answers() == answers; })) << path;
  }

  std::unique_ptr<TUpdateInfo> window;
};
// Suite names carry "update" so that ctest -R update picks them.
using update_info = UpdateInfoTest;

TEST_F(update_info, AnswersInEveryOrderEndInOneCompletion) {
  std::array<std::string, 3> order{kInfo, kSetup, kPatch};
  std::sort(order.begin(), order.end());
  int run = 0;
  do {
    SCOPED_TRACE("order " + order[0] + " " + order[1] + " " + order[2]);
    window.reset();
    transport.ReleaseAll();
    ASSERT_TRUE(transport.WaitIdle());
    transport.Reset();
    checker->UpdateInBytes = checker->UpdateOutBytes = checker->UpdateTotalBytes = 0;
    transport.Serve(kInfo, {200, kRtf, true, "", true});
    transport.Serve(kSetup, {200, PatternBytes(1536 * 1024), true, "", true});
    transport.Serve(kPatch, {200, PatternBytes(2048), true, "", true});
    Open();
    ASSERT_TRUE(PumpUntil(*app, [&] {
      return transport.Held(kInfo) && transport.Held(kSetup) && transport.Held(kPatch);
    }));
    for (int i = 0; i < 3; ++i) {
      transport.Release(order[static_cast<size_t>(i)]);
      Arrive(order[static_cast<size_t>(i)], i + 1);
      if (i < 2) {
        // Nothing is shown until all three answers are in.
        EXPECT_EQ(Shown(*window), kWait);
        EXPECT_FALSE(window->SetupChoice().Enabled());
        EXPECT_FALSE(window->PatchChoice().Enabled());
        EXPECT_FALSE(window->DownloadButton().Enabled());
        EXPECT_EQ(window->SetupChoice().Text(), kSetupText);
      }
    }
    PumpFor(*app, 50);
    EXPECT_EQ(Shown(*window), "Новая версия 0.5");
    // Labelled once: a second completion would add a second size.
    EXPECT_EQ(window->SetupChoice().Text(), kSetupText + " (1.5 MB)");
    EXPECT_EQ(window->PatchChoice().Text(), kPatchText + " (2 KB)");
    EXPECT_TRUE(window->SetupChoice().Enabled());
    EXPECT_TRUE(window->PatchChoice().Enabled());
    EXPECT_TRUE(window->SetupChoice().Checked());
    EXPECT_FALSE(window->PatchChoice().Checked());
    EXPECT_TRUE(window->DownloadButton().Enabled());
    // Only the description counts as update traffic; the sizes add nothing.
    EXPECT_EQ(checker->UpdateInBytes, kRtf.size());
    EXPECT_EQ(checker->UpdateOutBytes, 544u);
    EXPECT_EQ(checker->UpdateTotalBytes, kRtf.size() + 544u);
    ++run;
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(run, 6);
}

TEST_F(update_info, SizesDecideWhatIsOfferedAndPreselected) {
  struct Case {
    const char* name;
    FakeReply setup, patch;
    bool setupEnabled, patchEnabled, setupChecked, patchChecked, downloadEnabled;
    std::string setupLabel, patchLabel;
  };
  FakeReply noLength;
  noLength.announceLength = false;
  noLength.body = "x";
  FakeReply empty;
  empty.lengthText = "0";
  FakeReply big;
  big.body = PatternBytes(3 * 1048576 + 1048576 / 4);
  FakeReply small;
  small.body = PatternBytes(1000);
  const std::vector<Case> cases = {
      {"both sizes", big, small, true, true, true, false, true, " (3.25 MB)", " (1000 B)"},
      {"empty setup archive", empty, small, false, true, false, true, true, " (0 B)", " (1000 B)"},
      {"both empty", empty, empty, false, false, false, false, false, " (0 B)", " (0 B)"},
      {"setup without length", noLength, empty, true, false, true, false, true, " (4 GB)", " (0 B)"},
      {"patch without length", empty, noLength, false, true, false, true, true, " (0 B)", " (4 GB)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window.reset();
    transport.Serve(kInfo, {200, kRtf});
    transport.Serve(kSetup, c.setup);
    transport.Serve(kPatch, c.patch);
    Open();
    ASSERT_TRUE(PumpUntil(*app, [&] { return window->Answers() == 3; }));
    EXPECT_EQ(window->SetupChoice().Text(), kSetupText + c.setupLabel);
    EXPECT_EQ(window->PatchChoice().Text(), kPatchText + c.patchLabel);
    EXPECT_EQ(window->SetupChoice().Enabled(), c.setupEnabled);
    EXPECT_EQ(window->PatchChoice().Enabled(), c.patchEnabled);
    EXPECT_EQ(window->SetupChoice().Checked(), c.setupChecked);
    EXPECT_EQ(window->PatchChoice().Checked(), c.patchChecked);
    EXPECT_EQ(window->DownloadButton().Enabled(), c.downloadEnabled);
    EXPECT_EQ(Shown(*window), "Новая версия 0.5");
  }
}

TEST_F(update_info, FailedRequestShowsTheErrorAndOffersNothing) {
  struct Case {
    const char* name;
    std::string missing;
    std::string url;
    uint16_t code;
    size_t descriptionBytes = 0;  // served instead of the description when set
  };
  const std::vector<Case> cases = {
      {"description missing", kInfo, kBase, 12003},
      {"patch missing", kPatch, kBase, 12003},
      {"rejected address", "", "ftp://update.test", 12005},
      {"description beyond a megabyte", "", kBase, 223, kMaxDescriptionBytes + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window.reset();
    transport.Serve(kInfo, {200, c.descriptionBytes ? PatternBytes(c.descriptionBytes) : kRtf});
    transport.Serve(kSetup, {200, PatternBytes(100)});
    transport.Serve(kPatch, {200, PatternBytes(100)});
    if (!c.missing.empty()) transport.Serve(c.missing, {404, "Not Found"});
    TUpdateEnv env = Env();
    env.BaseUrl = c.url;
    window = std::make_unique<TUpdateInfo>(nullptr, env);
    const std::string expected = "Ошибка связи " + std::to_string(c.code) + "\r\n" +
                                 "Не могу получить описание новой версии.";
    ASSERT_TRUE(PumpUntil(*app, [&] { return Shown(*window) == expected; }, 3000)) << Shown(*window);
    // The other answers change nothing: the window stays in its error state.
    ASSERT_TRUE(transport.WaitIdle());
    PumpFor(*app, 50);
    EXPECT_EQ(Shown(*window), expected);
    EXPECT_FALSE(window->SetupChoice().Enabled());
    EXPECT_FALSE(window->PatchChoice().Enabled());
    EXPECT_FALSE(window->DownloadButton().Enabled());
    EXPECT_EQ(window->SetupChoice().Text(), kSetupText);
    if (c.missing == kInfo) {
      window->Show(true);
      PumpFor(*app, 200);
      EXPECT_TRUE(SaveWindowPng(window->Handle(), "update_info_error"));
    }
  }
}

TEST_F(update_info, RequestsUseTheLoadersAgentAndProxy) {
  struct Case {
    const char* name;
    std::string proxy;
    uint16_t port;
    bool system;
    uint32_t access;
    std::string proxyText, connectionHeader;
  };
  const std::vector<Case> cases = {
      {"direct", "", 3128, false, inet::kOpenTypeDirect, "", "Connection: close"},
      {"own proxy", "proxy.local", 8080, false, inet::kOpenTypeProxy, "http=proxy.local:8080",
       "Proxy-Connection: close"},
      {"system settings", "proxy.local", 8080, true, inet::kOpenTypePreconfig, "", "Proxy-Connection: close"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window.reset();
    ASSERT_TRUE(transport.WaitIdle());
    const size_t before = transport.Requests().size();
    transport.Reset();
    checker->Loader->ProxyServer = c.proxy;
    checker->Loader->ProxyPort = c.port;
    checker->Loader->UseSystemProxy = c.system;
    Open();
    for (const std::string& path : {kInfo, kSetup, kPatch}) ASSERT_TRUE(transport.WaitEnded(path, 1));
    const auto seen = transport.Requests();
    ASSERT_EQ(seen.size(), before + 3);
    std::vector<std::string> paths;
    for (size_t i = before; i < seen.size(); ++i) {
      const auto& s = seen[i];
      paths.push_back(s.path);
      EXPECT_EQ(s.agent, "Zelt Rarazovo 0.4");
      EXPECT_EQ(s.access, c.access);
      EXPECT_EQ(s.proxy, c.proxyText);
      EXPECT_EQ(s.host, "update.test");
      EXPECT_EQ(s.port, 80);
      EXPECT_EQ(s.headers, std::vector<std::string>{c.connectionHeader});
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{kSetup, kPatch, kInfo}));
  }
}

TEST_F(update_info, ClosingStopsTheRequestsAndNoReportIsAppliedAfterwards) {
  transport.Serve(kInfo, {200, kRtf, true, "", true});
  transport.Serve(kSetup, {200, PatternBytes(100), true, "", true});
  transport.Serve(kPatch, {200, PatternBytes(100), true, "", true});

  // Closed while all three wait for their answers.
  Open();
  ASSERT_TRUE(PumpUntil(*app, [&] { return transport.Held(kInfo) && transport.Held(kSetup) && transport.Held(kPatch); }));
  window.reset();
  transport.ReleaseAll();
  ASSERT_TRUE(transport.WaitIdle());
  PumpFor(*app, 100);
  EXPECT_EQ(checker->UpdateInBytes, 0u);
  EXPECT_EQ(checker->UpdateOutBytes, 0u);
  EXPECT_EQ(transport.BytesSent(kInfo), 0u);  // stopped: no body was read

  // Closed after the description arrived on its thread but before the GUI
  // thread applied it: the posted report is dropped.
  transport.Reset();
  transport.Serve(kInfo, {200, kRtf});
  transport.Serve(kSetup, {200, PatternBytes(100), true, "", true});
  transport.Serve(kPatch, {200, PatternBytes(100), true, "", true});
  Open();
  ASSERT_TRUE(transport.WaitEnded(kInfo, 1));  // its report is queued, not yet run
  window.reset();
  PumpFor(*app, 100);
  EXPECT_EQ(checker->UpdateInBytes, 0u);
  EXPECT_EQ(checker->UpdateTotalBytes, 0u);
}

TEST_F(update_info, DownloadStoresTheChoiceHidesAndOpensTheDownloadWindow) {
  struct Case {
    const char* name;
    bool pickPatch;
    int32_t tag;
  };
  for (const Case& c : {Case{"full setup", false, 1}, Case{"patch", true, 0}}) {
    SCOPED_TRACE(c.name);
    window.reset();
    transport.Serve(kInfo, {200, kRtf});
    transport.Serve(kSetup, {200, PatternBytes(5000)});
    transport.Serve(kPatch, {200, PatternBytes(700)});
    checker->Tag = -7;
    int opened = 0;
    bool visibleWhileOpen = true;
    openDownload = [&] {
      ++opened;
      visibleWhileOpen = IsWindowVisible(window->Handle()) != FALSE;
      EXPECT_EQ(checker->Tag, c.tag);
    };
    Open();
    ASSERT_TRUE(PumpUntil(*app, [&] { return window->DownloadButton().Enabled(); }));
    if (c.pickPatch) ClickButton(window->PatchChoice().Handle());
    EXPECT_EQ(window->PatchChoice().Checked(), c.pickPatch);
    EXPECT_EQ(window->SetupChoice().Checked(), !c.pickPatch);
    RunLater([&] { ClickButton(window->DownloadButton().Handle()); });
    window->ShowModal();  // returns once the window has closed itself
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(visibleWhileOpen);
    EXPECT_EQ(checker->Tag, c.tag);
    EXPECT_FALSE(IsWindowVisible(window->Handle()));
  }
}

TEST_F(update_info, EscapeCancelAndTheCloseButtonCloseTheWindow) {
  transport.Serve(kInfo, {200, kRtf});
  transport.Serve(kSetup, {200, PatternBytes(5000)});
  transport.Serve(kPatch, {200, PatternBytes(700)});
  const std::vector<std::pair<const char*, std::function<void(TUpdateInfo&)>>> ways = {
      {"Escape", [](TUpdateInfo& w) { PostKey(w.Handle(), VK_ESCAPE); }},
      {"Отмена", [](TUpdateInfo& w) { ClickButton(w.CancelButton().Handle()); }},
      {"close button", [](TUpdateInfo& w) { ClickButton(w.Strip().CloseButton().Handle()); }},
  };
  for (const auto& [name, act] : ways) {
    SCOPED_TRACE(name);
    window.reset();
    int opened = 0;
    openDownload = [&] { ++opened; };
    Open();
    EXPECT_EQ(window->Strip().Text(), "Информация об обновлении");
    RunLater([&, act = act] { act(*window); });
    window->ShowModal();
    EXPECT_FALSE(IsWindowVisible(window->Handle()));
    EXPECT_EQ(opened, 0);
  }
}

TEST_F(update_info, ScreenshotOfTheDescriptionAndChoices) {
  transport.Serve(kInfo, {200, ReadFileBytes(UpdateFile("info.rtf"))});
  transport.Serve(kSetup, {200, PatternBytes(1572864 + 262144)});
  transport.Serve(kPatch, {200, PatternBytes(358400)});
  Open();
  ASSERT_TRUE(PumpUntil(*app, [&] { return window->Answers() == 3; }));
  EXPECT_NE(Shown(*window).find("Zelt Rarazovo 0.5"), std::string::npos);
  EXPECT_NE(Shown(*window).find("Что нового:"), std::string::npos);
  window->Show(true);
  PumpFor(*app, 200);
  EXPECT_TRUE(SaveWindowPng(window->Handle(), "update_info"));
  RECT rc;
  GetClientRect(window->Handle(), &rc);
  EXPECT_EQ(rc.right, TUpdateInfo::kWidth);
  EXPECT_EQ(rc.bottom, TUpdateInfo::kHeight);
}

}  // namespace
}  // namespace zelt::updatetest
