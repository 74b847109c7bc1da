// Screenshots of the windows at 96 and 144 DPI for people to look at, written
// to screenshots\ in the build tree. Each also checks what a screenshot can:
// the window measures its layout size scaled to the DPI.
#include "support/ui_harness.h"

#include "ui/uTrafInfo.h"

namespace zelt::test {
namespace {

// Width and height stored in a PNG file's header.
SIZE PngSize(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return SIZE{0, 0};
  auto be32 = [&](size_t at) {
    return static_cast<LONG>((static_cast<uint8_t>(bytes[at]) << 24) | (static_cast<uint8_t>(bytes[at + 1]) << 16) |
                             (static_cast<uint8_t>(bytes[at + 2]) << 8) | static_cast<uint8_t>(bytes[at + 3]));
  };
  return SIZE{be32(16), be32(20)};
}

class ScreenshotTest : public UiFixture, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override { Start(GetParam()); }
  std::string Name(const char* what) { return std::string(what) + "-" + std::to_string(GetParam()); }
  void ExpectShot(const char* what, int width96, int height96) {
    const SIZE s = PngSize(ShotPath(Name(what)));
    EXPECT_EQ(s.cx, MulDiv(width96, GetParam(), 96)) << what;
    EXPECT_EQ(s.cy, MulDiv(height96, GetParam(), 96)) << what;
  }
};

const std::vector<Topic> kShowcase = {
    {"Поездка на Байкал летом: кто с нами?", "t1", "Путешествия", "128", "Светлана"},
    {"Ремонт &quot;Нивы&quot; своими руками", "t2", "Авто", "47", "Михалыч"},
    {"Рецепт борща", "t3", "Кухня", "9", "Ольга"},
    {"Фотоконкурс &laquo;Осень&raquo;", "t4", "Фото", "10", "Admin"},
    {"Продам велосипед", "t5", "Барахолка", "3", "Дмитрий"},
};

TEST_P(ScreenshotTest, MainWindowWithRows) {
  Reply(false, kShowcase);
  List().Select(1);
  main->OpenTopic();  // one read row, with its grey sphere
  List().Select(2);
  main->ShowFromTray();
  PumpFor(*app, 200);
  ASSERT_TRUE(SaveWindowPng(main->Handle(), Name("main")));
  ExpectShot("main", TMainForm::kWidth, TMainForm::kHeight);
}

TEST_P(ScreenshotTest, PopupWithAndWithoutUpdate) {
  struct Case {
    bool update;
    const char* name;
  } cases[] = {{true, "popup-update"}, {false, "popup-noupdate"}};
  for (const Case& c : cases) {
    Checker->UnreadCount = 4;
    Checker->UpdateAvailable = c.update;
    main->ShowInfo();
    PumpFor(*app, 200);
    ASSERT_TRUE(SaveWindowPng(info->Handle(), Name(c.name)));
    ExpectShot(c.name, TInfoForm::kWidth, TInfoForm::kHeight);
  }
}

TEST_P(ScreenshotTest, TrafficWindow) {
  Checker->TotalInBytes = 183000;
  Checker->TotalInUnpacked = 915000;
  Checker->TotalOutBytes = 52224;
  Checker->UpdateInBytes = 1200000;
  Checker->UpdateOutBytes = 1088;
  Checker->UpdateTotalBytes = 1201088;
  main->ShowFromTray();
  bool saved = false;
  RunLater([&] {
    TTrafInfo* t = main->TrafficWindow();
    if (!t) return;
    PumpFor(*app, 200);
    saved = SaveWindowPng(t->Handle(), Name("traffic"));
    t->Close();
  });
  main->ShowDialog(TMainForm::dkTraffic);
  ASSERT_TRUE(saved);
  ExpectShot("traffic", TTrafInfo::kWidth, TTrafInfo::kHeight);
}

TEST_P(ScreenshotTest, TrayMenu) {
  SetCursorPos(900, 700);
  bool saved = false;
  RunLater([&] {
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu) {
      RECT rc;
      GetWindowRect(menu, &rc);
      saved = SaveScreenPng(rc, ShotPath(Name("traymenu")));
    }
    EndMenu();
  }, 300);
  SendMessageW(main->Handle(), TTrayIcon::kCallbackMessage, 1, WM_RBUTTONUP);
  EXPECT_TRUE(saved);
}

INSTANTIATE_TEST_SUITE_P(Dpi, ScreenshotTest, ::testing::Values(96, 144),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

}  // namespace
}  // namespace zelt::test
