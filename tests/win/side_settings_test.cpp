// The settings window driven by messages: its controls and their places, the
// fields filled from the Checker, the typing filter and the change rules, what
// "Сохранить" writes and sends, and every way out that must change nothing.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/uChecker.h"
#include "tests/win/support/side_Fixture.h"
#include "ui/uSettingsForm.h"
#include "ui/uSoundsForm.h"
#include "widgets/Dpi.h"
#include "widgets/FileDialog.h"
#include "widgets/Paint.h"

namespace zelt {
namespace {

using namespace side_test;

void SetClipboardText(const std::string& cp1251) {
  const std::wstring w = Widen(cp1251);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, (w.size() + 1) * sizeof(wchar_t));
  memcpy(GlobalLock(mem), w.c_str(), (w.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(mem);
  SetClipboardData(CF_UNICODETEXT, mem);
  CloseClipboard();
}

bool WholeTextSelected(TEdit& e) {
  int s = 0, t = 0;
  e.GetSelection(s, t);
  const int n = GetWindowTextLengthW(e.Handle());
  return n > 0 && s == 0 && t == n;
}

// The place of a control inside the window's body, in pixels.
RECT PlaceOf(HWND control, HWND body) {
  RECT rc;
  GetWindowRect(control, &rc);
  MapWindowPoints(nullptr, body, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

// Everything the window may change, copied out of the Checker.
TDataImage Snapshot(TChecker& c) {
  TDataImage image;
  ForEachDataField(image, c, [](auto& to, const auto& from) { to = from; });
  return image;
}

bool SameState(const TDataImage& a, const TDataImage& b) { return SerializeDataImage(a) == SerializeDataImage(b); }

// A timer on the GUI thread that drives a nested modal loop from inside.
std::function<void()> g_tick;
void CALLBACK TickProc(HWND, UINT, UINT_PTR, DWORD) {
  if (g_tick) g_tick();
}

class side_SettingsForm : public CheckerFixture {
 protected:
  void TearDown() override {
    SetFileDialogHook(nullptr);
    g_tick = nullptr;
    CheckerFixture::TearDown();
  }

  // A known state, saved to data.dat and loaded by a new Checker.
  TChecker& CheckerWithState() {
    TDataImage d;
    d.IntervalMs = 420000;
    d.TopicCount = 12;
    d.ProxyServer = "10.0.0.5";
    d.ProxyPort = 3128;
    d.UserName = "пользователь";
    d.Password = "секрет";
    d.Nick = "Ivan";
    d.IgnoreOwnPosts = true;
    d.ShowOnNew = false;
    d.AutoStart = true;
    d.UseSounds = false;
    d.UseIESettings = true;
    d.SoundError = "C:\\old\\error.wav";
    d.TotalOutBytes = 1000;
    WriteData(d);
    return MakeChecker();
  }

  std::unique_ptr<TSettingsForm> OpenForm(TChecker& c) {
    auto form = std::make_unique<TSettingsForm>(app->Handle(), c);
    form->Show(true);
    app->ProcessMessages();
    return form;
  }
};

TEST_F(side_SettingsForm, ControlsStandAtTheirPlacesWithTheirTexts) {
  TChecker& c = CheckerWithState();
  for (int dpi : {96, 144}) {
    SCOPED_TRACE(dpi);
    SetDpiOverride(dpi);
    auto form = OpenForm(c);
    TSettingsForm& f = *form;
    const HWND body = f.Body();

    RECT client;
    GetClientRect(f.Handle(), &client);
    EXPECT_EQ(client.right, Scale(274));
    EXPECT_EQ(client.bottom, Scale(348));
    const SIZE s = f.SizePx();
    RECT win;
    GetWindowRect(f.Handle(), &win);
    EXPECT_EQ(win.left, (GetSystemMetrics(SM_CXSCREEN) - s.cx) / 2) << "centred on the screen";
    EXPECT_EQ(win.top, (GetSystemMetrics(SM_CYSCREEN) - s.cy) / 2);
    EXPECT_EQ(f.Strip().Text(), "Настройки");

    struct Place {
      const char* what;
      HWND hwnd;
      int x, y, w, h;  // w and h 0: sized to the text
    };
    const Place places[] = {
        {"interval", f.IntervalEdit().Handle(), 48, 40, 57, 22},
        {"topics", f.TopicsEdit().Handle(), 176, 40, 57, 22},
        {"server", f.ServerEdit().Handle(), 104, 88, 161, 22},
        {"port", f.PortEdit().Handle(), 104, 112, 161, 22},
        {"user", f.UserEdit().Handle(), 104, 136, 161, 22},
        {"password", f.PasswordEdit().Handle(), 104, 160, 161, 22},
        {"nick", f.NickEdit().Handle(), 104, 224, 161, 22},
        {"IE box", f.UseIEBox().Handle(), 24, 184, 0, 0},
        {"ignore box", f.IgnoreOwnBox().Handle(), 24, 248, 0, 0},
        {"show box", f.ShowOnNewBox().Handle(), 24, 264, 0, 0},
        {"autostart box", f.AutoStartBox().Handle(), 24, 280, 0, 0},
        {"sounds box", f.UseSoundsBox().Handle(), 24, 296, 0, 0},
        {"edit link", f.EditSoundsLink().Handle(), 168, 299, 0, 0},
        {"save", f.SaveButton().Handle(), 8, 320, 97, 25},
        {"cancel", f.CancelButton().Handle(), 168, 320, 97, 25},
    };
    for (const Place& p : places) {
      SCOPED_TRACE(p.what);
      const RECT rc = PlaceOf(p.hwnd, body);
      EXPECT_EQ(rc.left, Scale(p.x));
      EXPECT_EQ(rc.top, Scale(p.y));
      if (p.w) {
        EXPECT_EQ(rc.right - rc.left, Scale(p.w));
        EXPECT_EQ(rc.bottom - rc.top, Scale(p.h));
      }
      EXPECT_TRUE(IsWindowVisible(p.hwnd));
    }
    // The check boxes and the link are sized to their captions, which begin with a blank.
    struct Caption {
      TControl& control;
      const char* text;
    };
    const Caption captions[] = {
        {f.UseIEBox(), " Настройки Internet Explorer"},
        {f.IgnoreOwnBox(), " Игнорировать мои сообщения"},
        {f.ShowOnNewBox(), " Показать программу на новых сообщениях"},
        {f.AutoStartBox(), " Запускать вместе с Windows"},
        {f.UseSoundsBox(), " Использовать звуки"},
        {f.EditSoundsLink(), "(Редактировать)"},
        {f.SaveButton(), "Сохранить"},
        {f.CancelButton(), "Отмена"},
    };
    for (const Caption& cap : captions) {
      EXPECT_EQ(cap.control.Text(), cap.text);
      const RECT rc = PlaceOf(cap.control.Handle(), body);
      EXPECT_LE(rc.right, Scale(274)) << cap.text << " runs off the window";
    }
    // Each check box is wide enough for its box and its whole caption.
    for (TCheckBox* box : {&f.UseIEBox(), &f.IgnoreOwnBox(), &f.ShowOnNewBox(), &f.AutoStartBox(), &f.UseSoundsBox()}) {
      const std::wstring caption = Widen(box->Text());
      HDC dc = GetDC(box->Handle());
      HGDIOBJ old = SelectObject(dc, UiFont());
      SIZE text{};
      GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
      SelectObject(dc, old);
      ReleaseDC(box->Handle(), dc);
      const RECT rc = PlaceOf(box->Handle(), body);
      EXPECT_GE(rc.right - rc.left, text.cx + Scale(13) + Scale(3)) << box->Text();
      // And as wide as the control itself says it needs.
      SIZE ideal{0, 0};
      ASSERT_TRUE(SendMessageW(box->Handle(), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
      EXPECT_GE(rc.right - rc.left, ideal.cx) << box->Text();
    }
    EXPECT_TRUE(f.PasswordEdit().IsPassword());
    EXPECT_FALSE(f.UserEdit().IsPassword());
    // Nothing disables anything: the proxy fields stay editable with the IE box ticked.
    EXPECT_TRUE(f.UseIEBox().Checked());
    EXPECT_TRUE(IsWindowEnabled(f.ServerEdit().Handle()));
    EXPECT_TRUE(IsWindowEnabled(f.EditSoundsLink().Handle()));

    EXPECT_FALSE(Screenshot(*app, f.Handle(), dpi == 96 ? "settings" : "settings-144dpi").empty());
  }
  SetDpiOverride(0);
}

TEST_F(side_SettingsForm, FieldsAreFilledFromTheChecker) {
  struct Case {
    int32_t intervalMs, topics;
    uint16_t port;
    const char *interval, *topicsText, *portText;
  };
  // A port of 0 stays empty; the interval shows whole minutes; values outside
  // the ranges (only a data.dat written by other means holds them) show corrected.
  const Case cases[] = {
      {300000, 10, 0, "5", "10", ""},    {90000, 30, 8080, "1", "30", "8080"}, {3600000, 1, 65535, "60", "1", "65535"},
      {7200000, 45, 1, "60", "30", "1"}, {30000, -3, 0, "1", "1", ""},
  };
  TChecker& c = CheckerWithState();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.intervalMs);
    c.IntervalMs = k.intervalMs;
    c.TopicCount = k.topics;
    c.ProxyPort = k.port;
    auto form = OpenForm(c);
    EXPECT_EQ(form->IntervalEdit().Text(), k.interval);
    EXPECT_EQ(form->TopicsEdit().Text(), k.topicsText);
    EXPECT_EQ(form->PortEdit().Text(), k.portText);
    EXPECT_EQ(form->ServerEdit().Text(), "10.0.0.5");
    EXPECT_EQ(form->UserEdit().Text(), "пользователь");
    EXPECT_EQ(form->PasswordEdit().Text(), "секрет");
    EXPECT_EQ(form->NickEdit().Text(), "Ivan");
    EXPECT_TRUE(form->UseIEBox().Checked());
    EXPECT_TRUE(form->IgnoreOwnBox().Checked());
    EXPECT_FALSE(form->ShowOnNewBox().Checked());
    EXPECT_TRUE(form->AutoStartBox().Checked());
    EXPECT_FALSE(form->UseSoundsBox().Checked());
    // Opening changes nothing in the Checker.
    EXPECT_EQ(c.IntervalMs, k.intervalMs);
    EXPECT_EQ(c.TopicCount, k.topics);
  }
}

TEST_F(side_SettingsForm, TypingFilterAndChangeRules) {
  enum Kind { SelectAll, CaretEnd, Typed, Paste };
  struct Step {
    Kind kind;
    std::string text;
    const char* expect;  // the field's text afterwards
    int selected;        // 1: whole text selected afterwards, 0: not, -1: either
  };
  struct Case {
    const char* name;
    std::function<TEdit&(TSettingsForm&)> field;
    const char* initial;
    std::vector<Step> steps;
  };
  auto interval = [](TSettingsForm& f) -> TEdit& { return f.IntervalEdit(); };
  auto topics = [](TSettingsForm& f) -> TEdit& { return f.TopicsEdit(); };
  auto port = [](TSettingsForm& f) -> TEdit& { return f.PortEdit(); };
  auto server = [](TSettingsForm& f) -> TEdit& { return f.ServerEdit(); };
  auto user = [](TSettingsForm& f) -> TEdit& { return f.UserEdit(); };
  auto nick = [](TSettingsForm& f) -> TEdit& { return f.NickEdit(); };
  const std::string ctrlV(1, '\x16');
  const Case cases[] = {
      {"0 then 7", interval, "5", {{SelectAll, "", "5", 1}, {Typed, "0", "1", 1}, {Typed, "7", "7", 0}}},
      {"6 then 1", interval, "5", {{SelectAll, "", "5", 1}, {Typed, "6", "6", 0}, {Typed, "1", "60", 1}}},
      {"3 then 1", topics, "10", {{SelectAll, "", "10", 1}, {Typed, "3", "3", 0}, {Typed, "1", "30", 1}}},
      {"70000",
       port,
       "",
       {{Typed, "7", "7", 0},
        {Typed, "0", "70", 0},
        {Typed, "0", "700", 0},
        {Typed, "0", "7000", 0},
        {Typed, "0", "65535", 1}}},
      {"last digit deleted",
       topics,
       "10",
       {{CaretEnd, "", "10", 0}, {Typed, "\b", "1", 0}, {Typed, "\b", "1", 1}, {Typed, "\b", "1", 1}}},
      {"port emptied", port, "80", {{CaretEnd, "", "80", 0}, {Typed, "\b", "8", 0}, {Typed, "\b", "1", 1}}},
      {"letters refused in numbers", interval, "5", {{CaretEnd, "", "5", 0}, {Typed, "a-+ .x", "5", 0}}},
      {"letters refused in the server", server, "", {{Typed, "host10.0.0.1", "10.0.0.1", -1}}},
      {"anything in the nick", nick, "", {{Typed, "Иван Petrov!", "Иван Petrov!", -1}}},
      {"Ctrl+V refused in numbers", interval, "5", {{SelectAll, "", "5", 1}, {Typed, ctrlV, "5", 1}}},
      {"Ctrl+V in text fields", user, "", {{Typed, ctrlV, "clip 45", -1}}},
      {"pasted host name kept", server, "", {{Paste, "proxy.example.org", "proxy.example.org", -1}}},
      {"pasted number above the bound", topics, "10", {{SelectAll, "", "10", 1}, {Paste, "99", "30", 1}}},
      {"pasted letters read as 0", interval, "5", {{SelectAll, "", "5", 1}, {Paste, "abc", "1", 1}}},
      {"pasted negative number", port, "80", {{SelectAll, "", "80", 1}, {Paste, "-5", "1", 1}}},
      {"pasted huge number", port, "", {{Paste, "123456789012345678901234567890", "65535", 1}}},
      {"pasted number in range", interval, "5", {{SelectAll, "", "5", 1}, {Paste, "45", "45", 0}}},
  };
  TChecker& c = CheckerWithState();
  auto form = OpenForm(c);
  SetClipboardText("clip 45");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TEdit& e = k.field(*form);
    e.SetText(k.initial);
    SetFocus(e.Handle());
    int n = 0;
    for (const Step& step : k.steps) {
      SCOPED_TRACE("step " + std::to_string(++n));
      switch (step.kind) {
        case SelectAll:
          e.SelectAll();
          break;
        case CaretEnd: {
          const int len = GetWindowTextLengthW(e.Handle());
          e.SetSelection(len, len);
          break;
        }
        case Typed:
          Type(*app, e.Handle(), step.text);
          break;
        case Paste:
          SetClipboardText(step.text);
          SendMessageW(e.Handle(), WM_PASTE, 0, 0);
          app->ProcessMessages();
          SetClipboardText("clip 45");
          break;
      }
      EXPECT_EQ(e.Text(), step.expect);
      if (step.selected >= 0) {
        EXPECT_EQ(WholeTextSelected(e), step.selected == 1);
      }
    }
  }
  // The fields were the window's own: nothing reached the Checker.
  EXPECT_EQ(c.IntervalMs, 420000);
  EXPECT_EQ(c.TopicCount, 12);
  EXPECT_EQ(c.ProxyPort, 3128);
}

TEST_F(side_SettingsForm, SaveResetsTheReplyOnlyForANewTopicCountAndPollsAtOnce) {
  struct Case {
    const char* topics;
    const char* expectPath;
    bool expectReplyKept;
  };
  const Case cases[] = {
      {"20", "/inf.php?c=20&u=0.4&p=0", false},
      {"12", "/inf.php?c=12&u=0.4&p=1", true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.topics);
    checker.reset();
    RecordingTransport::Instance().Reset();
    TChecker& c = CheckerWithState();
    c.LastReply = "0previous reply";
    auto form = OpenForm(c);
    form->TopicsEdit().SetText(k.topics);
    Click(*app, form->SaveButton().Handle());
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(c.LastReply.empty(), !k.expectReplyKept);
    ASSERT_TRUE(RecordingTransport::Instance().WaitForRequests(1, *app));
    const auto requests = RecordingTransport::Instance().Requests();
    ASSERT_EQ(requests.size(), 1u) << "one request, sent at once";
    EXPECT_EQ(requests[0].host, "127.0.0.1");
    EXPECT_EQ(requests[0].port, 18765);
    EXPECT_EQ(requests[0].path, k.expectPath);
    EXPECT_TRUE(c.PollTimer->Enabled());
    // The save came before the poll: data.dat holds the traffic before its 544 bytes.
    EXPECT_EQ(ReadData().TotalOutBytes, 1000u);
    EXPECT_EQ(c.TotalOutBytes, 1544u);
  }
}

TEST_F(side_SettingsForm, SaveWritesEveryFieldToTheCheckerAndDataDat) {
  TChecker& c = CheckerWithState();
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\ZeltInformerA";
  c.SaveData();  // AutoStart is on: the Run value exists
  ASSERT_EQ(registry.Values.count(run), 1u);
  c.IntervalMs = 90000;  // shown as 1 minute
  c.ProxyPort = 0;       // shown empty
  auto form = OpenForm(c);
  TSettingsForm& f = *form;
  EXPECT_EQ(f.PortEdit().Text(), "");
  f.TopicsEdit().SetText("25");
  f.ServerEdit().SetText("proxy.local");
  f.UserEdit().SetText("user2");
  f.PasswordEdit().SetText("pw2");
  f.NickEdit().SetText("Пётр");
  Click(*app, f.IgnoreOwnBox().Handle());  // on -> off
  Click(*app, f.ShowOnNewBox().Handle());  // off -> on
  Click(*app, f.AutoStartBox().Handle());  // on -> off
  Click(*app, f.UseSoundsBox().Handle());  // off -> on
  Click(*app, f.UseIEBox().Handle());      // on -> off
  Click(*app, f.SaveButton().Handle());

  const TDataImage d = ReadData();
  for (const auto& [what, source] : {std::pair<const char*, TDataImage>{"checker", Snapshot(c)}, {"data.dat", d}}) {
    SCOPED_TRACE(what);
    EXPECT_EQ(source.IntervalMs, 60000) << "1.5 minutes shown as 1, saved as 60000";
    EXPECT_EQ(source.TopicCount, 25);
    EXPECT_EQ(source.ProxyServer, "proxy.local");
    EXPECT_EQ(source.ProxyPort, 0) << "an untouched empty port stays 0";
    EXPECT_EQ(source.UserName, "user2");
    EXPECT_EQ(source.Password, "pw2");
    EXPECT_EQ(source.Nick, "Пётр");
    EXPECT_FALSE(source.IgnoreOwnPosts);
    EXPECT_TRUE(source.ShowOnNew);
    EXPECT_FALSE(source.AutoStart);
    EXPECT_TRUE(source.UseSounds);
    EXPECT_FALSE(source.UseIESettings);
    EXPECT_EQ(source.SoundError, "C:\\old\\error.wav");
  }
  // SaveData applied the autostart value: off, so the Run value is gone.
  EXPECT_EQ(registry.Values.count(run), 0u);
  EXPECT_FALSE(f.Visible());
}

TEST_F(side_SettingsForm, EveryWayOutButSaveLeavesTheCheckerAndDataDatUntouched) {
  struct Way {
    const char* name;
    std::function<void(TSettingsForm&, TApplication&)> close;
  };
  const Way ways[] = {
      {"Esc in the interval field",
       [](TSettingsForm& f, TApplication& a) { Press(a, f.IntervalEdit().Handle(), VK_ESCAPE); }},
      {"Esc in the nick field", [](TSettingsForm& f, TApplication& a) { Press(a, f.NickEdit().Handle(), VK_ESCAPE); }},
      {"Esc on a check box", [](TSettingsForm& f, TApplication& a) { Press(a, f.UseSoundsBox().Handle(), VK_ESCAPE); }},
      {"Esc on the Save button",
       [](TSettingsForm& f, TApplication& a) { Press(a, f.SaveButton().Handle(), VK_ESCAPE); }},
      {"close button", [](TSettingsForm& f, TApplication& a) { Click(a, f.Strip().CloseButton().Handle()); }},
      {"Отмена", [](TSettingsForm& f, TApplication& a) { Click(a, f.CancelButton().Handle()); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    checker.reset();
    RecordingTransport::Instance().Reset();
    TChecker& c = CheckerWithState();
    AgeData();
    const uint64_t stamp = DataStamp();
    const std::string bytes = DataBytes();
    const TDataImage before = Snapshot(c);
    auto form = OpenForm(c);
    TSettingsForm& f = *form;
    f.IntervalEdit().SelectAll();
    Type(*app, f.IntervalEdit().Handle(), "9");
    f.TopicsEdit().SelectAll();
    Type(*app, f.TopicsEdit().Handle(), "3");
    Type(*app, f.NickEdit().Handle(), "x");
    Click(*app, f.UseSoundsBox().Handle());
    Click(*app, f.AutoStartBox().Handle());
    ASSERT_TRUE(f.Visible());
    way.close(f, *app);
    EXPECT_FALSE(f.Visible());
    EXPECT_TRUE(SameState(Snapshot(c), before));
    EXPECT_EQ(DataStamp(), stamp);
    EXPECT_EQ(DataBytes(), bytes);
    app->ProcessMessages();
    EXPECT_TRUE(RecordingTransport::Instance().Requests().empty());
    EXPECT_FALSE(c.PollTimer->Enabled());
  }
}

TEST_F(side_SettingsForm, EscActsOnTheReleaseOfAKeyPressedHere) {
  TChecker& c = CheckerWithState();
  auto form = OpenForm(c);
  HWND field = form->TopicsEdit().Handle();
  KeyDown(*app, field, VK_ESCAPE);
  EXPECT_TRUE(form->Visible()) << "not on key-down";
  KeyUp(*app, field, VK_ESCAPE);
  EXPECT_FALSE(form->Visible());

  // A release whose press went to another window (a dialog that closed on it).
  auto again = OpenForm(c);
  KeyUp(*app, again->TopicsEdit().Handle(), VK_ESCAPE);
  EXPECT_TRUE(again->Visible());
}

TEST_F(side_SettingsForm, EscEndsTheModalLoop) {
  TChecker& c = CheckerWithState();
  TSettingsForm form(app->Handle(), c);
  bool timedOut = false;
  g_tick = [&] {
    timedOut = true;
    form.Close();
  };
  const UINT_PTR guard = SetTimer(nullptr, 0, 5000, TickProc);
  // Queued before the loop starts; the loop handles them.
  PostMessageW(form.PortEdit().Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
  PostMessageW(form.PortEdit().Handle(), WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0000001));
  form.ShowModal();
  KillTimer(nullptr, guard);
  EXPECT_FALSE(timedOut);
  EXPECT_FALSE(form.Visible());
}

TEST_F(side_SettingsForm, ASoundChangedThroughTheLinkIsKeptAfterCancel) {
  TChecker& c = CheckerWithState();
  AgeData();
  const uint64_t stamp = DataStamp();
  auto form = OpenForm(c);
  TSettingsForm& f = *form;

  // The link opens the sound scheme modally over the settings window; inside
  // its loop the error sound is replaced and the scheme closed with Esc.
  SetFileDialogHook([](FileDialogKind, const TFileDialogRequest&, std::string& path) {
    path = "C:\\new\\beep.wav";
    return true;
  });
  bool sawScheme = false, settingsDisabled = false;
  int ticks = 0;
  g_tick = [&] {
    if (++ticks > 100) {  // about five seconds: give up and end every loop
      if (HWND h = FindWindowW(L"ZeltForm", L"Звуковая схема")) PostMessageW(h, WM_CLOSE, 0, 0);
      return;
    }
    HWND h = FindWindowW(L"ZeltForm", L"Звуковая схема");
    auto* sounds = dynamic_cast<TSoundsForm*>(TWindow::FromHandle(h));
    if (!sounds || !IsWindowVisible(h) || sawScheme) return;
    sawScheme = true;
    settingsDisabled = !IsWindowEnabled(f.Handle());
    sounds->List().Select(2);
    sounds->Replace();
    PostMessageW(sounds->List().Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageW(sounds->List().Handle(), WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0000001));
  };
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, TickProc);
  SetFocus(f.NickEdit().Handle());
  const HWND link = f.EditSoundsLink().Handle();
  SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  KillTimer(nullptr, timer);

  EXPECT_TRUE(sawScheme);
  EXPECT_TRUE(settingsDisabled) << "the settings window takes no input under the sound scheme";
  EXPECT_TRUE(IsWindowEnabled(f.Handle()));
  EXPECT_TRUE(f.Visible()) << "Esc in the sound scheme closes only the sound scheme";
  EXPECT_EQ(c.SoundError, "C:\\new\\beep.wav");
  EXPECT_TRUE(test::PumpUntil(*app, [&] { return GetFocus() == f.NickEdit().Handle(); }))
      << "the keys go back to the field that had them";

  Click(*app, f.CancelButton().Handle());
  EXPECT_FALSE(f.Visible());
  EXPECT_EQ(c.SoundError, "C:\\new\\beep.wav") << "Отмена does not undo the sound scheme";
  EXPECT_EQ(DataStamp(), stamp) << "the sound reaches data.dat only at the next save";
}

TEST_F(side_SettingsForm, TheEditLinkOpensTheSoundSchemeThroughTheMainWindowWhenBound) {
  TChecker& c = CheckerWithState();
  auto form = OpenForm(c);
  int calls = 0;
  bool disabledDuring = false;
  form->OnEditSounds = [&] {
    ++calls;
    disabledDuring = !IsWindowEnabled(form->Handle());
  };
  const HWND link = form->EditSoundsLink().Handle();
  SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(disabledDuring);
  EXPECT_TRUE(IsWindowEnabled(form->Handle()));
  // A release without a press on the link (a drag that ended there) is no click.
  SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(calls, 1);
}

TEST_F(side_SettingsForm, TheEditLinkIsUnderlinedWhileTheMouseIsOverIt) {
  TChecker& c = CheckerWithState();
  auto form = OpenForm(c);
  TLinkLabel& link = form->EditSoundsLink();
  SetCursorPos(5, 5);
  app->ProcessMessages();
  EXPECT_FALSE(link.Underlined());

  const POINT over = CentreOf(link.Handle());
  SetCursorPos(over.x, over.y);
  EXPECT_TRUE(test::PumpUntil(*app, [&] { return link.Underlined(); }));
  EXPECT_FALSE(Screenshot(*app, form->Handle(), "settings-link-hovered").empty());

  SetCursorPos(5, 5);
  EXPECT_TRUE(test::PumpUntil(*app, [&] { return !link.Underlined(); }));
}

TEST(side_SettingsFieldNumber, ReadsDigitsWithAnOptionalSignAndNothingElse) {
  struct Case {
    const char* text;
    int64_t value;
  };
  const Case cases[] = {
      {"", 0},
      {"0", 0},
      {"7", 7},
      {"065535", 65535},
      {"-5", -5},
      {"+3", 3},
      {"-", 0},
      {"12a", 0},
      {" 1", 0},
      {"1.5", 0},
      {"abc", 0},
      {"99999999999999999999999", std::numeric_limits<int64_t>::max()},
      {"-99999999999999999999999", -std::numeric_limits<int64_t>::max()},
  };
  for (const Case& k : cases) EXPECT_EQ(SettingsFieldNumber(k.text), k.value) << '"' << k.text << '"';
}

}  // namespace
}  // namespace zelt
