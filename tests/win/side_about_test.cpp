// The about window and the rich-text control under it: the "AboutText"
// resource of this build, the text shown read-only with its heading, a click
// on a web address reaching the shell seam while the window stays, and Esc.
#include <windows.h>
#include <commdlg.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "base/System_win.h"
#include "tests/win/support/side_Fixture.h"
#include "ui/uAboutForm.h"
#include "widgets/Dpi.h"
#include "widgets/Form.h"
#include "widgets/RichEdit.h"
#include "widgets/Shell.h"

namespace zelt {
namespace {

using namespace side_test;

// The character range of the first occurrence of `text`, or {-1, -1}.
CHARRANGE Find(TRichEdit& edit, const std::string& text) {
  std::wstring w = Widen(text);
  FINDTEXTEXW ft{};
  ft.chrg.cpMin = 0;
  ft.chrg.cpMax = -1;
  ft.lpstrText = w.c_str();
  SendMessageW(edit.Handle(), EM_FINDTEXTEXW, FR_DOWN | FR_MATCHCASE, reinterpret_cast<LPARAM>(&ft));
  return ft.chrgText;
}

// The client point of the middle of a character range.
POINT PointOf(TRichEdit& edit, const CHARRANGE& range) {
  POINTL p{};
  SendMessageW(edit.Handle(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&p), (range.cpMin + range.cpMax) / 2);
  return POINT{p.x + 1, p.y + 4};
}

CHARFORMAT2W FormatAt(TRichEdit& edit, int cp) {
  SendMessageW(edit.Handle(), EM_SETSEL, cp, cp + 1);
  CHARFORMAT2W cf{};
  cf.cbSize = sizeof(cf);
  SendMessageW(edit.Handle(), EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  SendMessageW(edit.Handle(), EM_SETSEL, 0, 0);
  return cf;
}

class side_AboutForm : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TApplication>("Zelt Rarazovo 0.4");
    SetShellOpenHook([this](HWND owner, const std::string& file) { opened.push_back({owner, file}); });
  }
  void TearDown() override {
    SetShellOpenHook(nullptr);
    app.reset();
  }
  std::unique_ptr<TAboutForm> OpenForm() {
    auto form = std::make_unique<TAboutForm>(app->Handle());
    form->Show(true);
    app->ProcessMessages();
    return form;
  }
  std::unique_ptr<TApplication> app;
  std::vector<std::pair<HWND, std::string>> opened;
};

TEST_F(side_AboutForm, TheResourceIsAnRtfDocumentWithThisBuildsAddresses) {
  const std::string rtf = LoadAboutText();
  ASSERT_FALSE(rtf.empty());
  EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
  for (unsigned char ch : rtf) ASSERT_LT(ch, 0x80) << "non-ASCII text is written as \\u escapes";
  EXPECT_NE(rtf.find("\\u1055?"), std::string::npos);
  EXPECT_NE(rtf.find("MS Sans Serif"), std::string::npos);
  EXPECT_NE(rtf.find("\\fs20"), std::string::npos) << "10 points";
  EXPECT_NE(rtf.find(build::kForumThread), std::string::npos);
  EXPECT_NE(rtf.find(build::kContactMail), std::string::npos);
}

TEST_F(side_AboutForm, ShowsTheTextReadOnlyUnderABoldNavyHeading) {
  auto form = OpenForm();
  TAboutForm& f = *form;
  TRichEdit& text = f.Text();
  EXPECT_EQ(f.Strip().Text(), "О программе");
  RECT client;
  GetClientRect(f.Handle(), &client);
  EXPECT_EQ(client.right, Scale(346));
  EXPECT_EQ(client.bottom, Scale(189));
  RECT rc;
  GetWindowRect(text.Handle(), &rc);
  MapWindowPoints(nullptr, f.Body(), reinterpret_cast<POINT*>(&rc), 2);
  EXPECT_EQ(rc.left, Scale(8));
  EXPECT_EQ(rc.top, Scale(24));
  EXPECT_EQ(rc.right - rc.left, Scale(330));
  EXPECT_EQ(rc.bottom - rc.top, Scale(157));
  const LONG style = GetWindowLongW(text.Handle(), GWL_STYLE);
  EXPECT_TRUE(style & WS_VSCROLL);
  EXPECT_FALSE(style & WS_HSCROLL);
  EXPECT_TRUE(style & ES_MULTILINE);

  // In order: heading, what the program does, rights, thread, contact.
  const std::string shown = text.PlainText();
  const std::vector<std::string> parts = {
      "Zelt Rarazovo 0.4\r\n",
      "Программа Zelt Rarazovo 0.4 следит за форумом Zelt Rarazovo и сразу сообщает вам о новых сообщениях",
      "© Команда Zelt Rarazovo — клиентская программа и серверная часть.",
      build::kForumThread,
      build::kContactMail,
  };
  size_t at = 0;
  for (const std::string& part : parts) {
    const size_t found = shown.find(part, at);
    ASSERT_NE(found, std::string::npos) << part << "\nin:\n" << shown;
    at = found + part.size();
  }
  EXPECT_EQ(shown.rfind("Zelt Rarazovo 0.4", 0), 0u) << "the heading comes first";

  const CHARFORMAT2W heading = FormatAt(text, 0);
  EXPECT_TRUE(heading.dwEffects & CFE_BOLD);
  EXPECT_EQ(heading.crTextColor, RGB(0, 0, 128));
  EXPECT_EQ(std::wstring(heading.szFaceName), L"MS Sans Serif");
  EXPECT_EQ(heading.yHeight, 200) << "10 points in twips";
  const CHARFORMAT2W body = FormatAt(text, Find(text, "следит").cpMin);
  EXPECT_FALSE(body.dwEffects & CFE_BOLD);
  EXPECT_EQ(body.crTextColor, RGB(0, 0, 0));

  // Read-only: typing and pasting change nothing.
  EXPECT_TRUE(text.ReadOnly());
  SetFocus(text.Handle());
  Type(*app, text.Handle(), "xyz");
  SendMessageW(text.Handle(), WM_PASTE, 0, 0);
  SendMessageW(text.Handle(), WM_CLEAR, 0, 0);
  app->ProcessMessages();
  EXPECT_EQ(text.PlainText(), shown);

  // The scroll bar reaches the contact line at the end.
  SendMessageW(text.Handle(), WM_VSCROLL, SB_BOTTOM, 0);
  app->ProcessMessages();
  const POINT mail = PointOf(text, Find(text, build::kContactMail));
  RECT inner;
  GetClientRect(text.Handle(), &inner);
  EXPECT_TRUE(PtInRect(&inner, mail)) << mail.x << "," << mail.y;
  EXPECT_FALSE(Screenshot(*app, f.Handle(), "about-end").empty());
  SendMessageW(text.Handle(), WM_VSCROLL, SB_TOP, 0);
  EXPECT_FALSE(Screenshot(*app, f.Handle(), "about").empty());
}

TEST_F(side_AboutForm, APressOnTheThreadAddressOpensItAndTheWindowStays) {
  auto form = OpenForm();
  TRichEdit& text = form->Text();
  EXPECT_TRUE(text.UrlDetection());
  const CHARRANGE thread = Find(text, build::kForumThread);
  ASSERT_GE(thread.cpMin, 0);
  const POINT at = PointOf(text, thread);
  struct Press {
    UINT down, up;
  };
  for (const Press& p : {Press{WM_LBUTTONDOWN, WM_LBUTTONUP}, Press{WM_RBUTTONDOWN, WM_RBUTTONUP}}) {
    SendMessageW(text.Handle(), p.down, p.down == WM_LBUTTONDOWN ? MK_LBUTTON : MK_RBUTTON, MAKELPARAM(at.x, at.y));
    SendMessageW(text.Handle(), p.up, 0, MAKELPARAM(at.x, at.y));
    app->ProcessMessages();
  }
  ASSERT_EQ(opened.size(), 2u);
  for (const auto& [owner, file] : opened) {
    EXPECT_EQ(owner, form->Handle());
    EXPECT_EQ(file, build::kForumThread);
  }
  EXPECT_TRUE(form->Visible());

  // A press on plain text opens nothing.
  const POINT plain = PointOf(text, Find(text, "следит"));
  SendMessageW(text.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(plain.x, plain.y));
  SendMessageW(text.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(plain.x, plain.y));
  app->ProcessMessages();
  EXPECT_EQ(opened.size(), 2u);
}

TEST_F(side_AboutForm, EscClosesEvenFromTheText) {
  auto form = OpenForm();
  SetFocus(form->Text().Handle());
  KeyDown(*app, form->Text().Handle(), VK_ESCAPE);
  EXPECT_TRUE(form->Visible());
  KeyUp(*app, form->Text().Handle(), VK_ESCAPE);
  EXPECT_FALSE(form->Visible());
}

// The control on its own, as other windows use it.
class side_RichEdit : public ::testing::Test {
 protected:
  class Host : public TForm {
   public:
    explicit Host(HWND owner) { CreateForm("host", "host", 300, 200, owner); }
  };
  void SetUp() override {
    app = std::make_unique<TApplication>("Zelt Rarazovo 0.4");
    host = std::make_unique<Host>(app->Handle());
    ASSERT_TRUE(edit.Create(host->Body(), 8, 24, 280, 160));
  }
  void TearDown() override {
    host.reset();
    app.reset();
  }
  std::unique_ptr<TApplication> app;
  std::unique_ptr<Host> host;
  TRichEdit edit;
};

TEST_F(side_RichEdit, LoadsRtfSetsPlainTextAndClears) {
  ASSERT_TRUE(edit.LoadRtf("{\\rtf1\\ansi {\\b \\u1055?\\u1088?\\u1080?} plain}"));
  EXPECT_EQ(edit.PlainText(), "При plain");
  EXPECT_TRUE(FormatAt(edit, 0).dwEffects & CFE_BOLD);

  // Plain text is taken as it is, even when it looks like RTF.
  edit.SetPlainText("{\\rtf1 not a document}\r\nвторая строка");
  EXPECT_EQ(edit.PlainText(), "{\\rtf1 not a document}\r\nвторая строка");
  EXPECT_FALSE(FormatAt(edit, 0).dwEffects & CFE_BOLD);

  edit.Clear();
  EXPECT_EQ(edit.PlainText(), "");
  EXPECT_FALSE(edit.LoadRtf("")) << "nothing to take";
}

// A DLL of the rich edit's name beside the program (the build plants one that
// leaves a marker if it is ever loaded) is passed over for the system's.
TEST_F(side_RichEdit, ComesFromTheSystemFolderOnly) {
  const std::wstring here = FolderOf(ExeFilePath());
  ASSERT_TRUE(std::filesystem::exists(here + L"Msftedit.dll"));
  EXPECT_FALSE(std::filesystem::exists(here + L"planted-dll-loaded.txt"));
  std::filesystem::remove(here + L"planted-dll-loaded.txt");
  wchar_t loaded[MAX_PATH] = {}, system[MAX_PATH] = {};
  GetModuleFileNameW(GetModuleHandleW(L"msftedit.dll"), loaded, MAX_PATH);
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(_wcsnicmp(loaded, system, n), 0) << Narrow(loaded);
}

TEST_F(side_RichEdit, ReadOnlyCanBeSwitched) {
  edit.SetPlainText("abc");
  EXPECT_TRUE(edit.ReadOnly());
  SendMessageW(edit.Handle(), EM_SETSEL, 3, 3);
  SendMessageW(edit.Handle(), WM_CHAR, 'd', 1);
  EXPECT_EQ(edit.PlainText(), "abc");
  edit.SetReadOnly(false);
  EXPECT_FALSE(edit.ReadOnly());
  SendMessageW(edit.Handle(), WM_CHAR, 'd', 1);
  EXPECT_EQ(edit.PlainText(), "abcd");
}

TEST_F(side_RichEdit, ReportsAPressOnARecognisedAddressOnlyWithDetectionOn) {
  std::vector<std::string> clicks;
  edit.OnLinkClick = [&](const std::string& url) { clicks.push_back(url); };
  host->Show(true);
  for (bool detect : {false, true}) {
    SCOPED_TRACE(detect);
    edit.SetUrlDetection(detect);
    EXPECT_EQ(edit.UrlDetection(), detect);
    edit.SetPlainText("see http://127.0.0.1:18765/forum/t-1 here");
    app->ProcessMessages();
    const POINT at = PointOf(edit, Find(edit, "18765"));
    SendMessageW(edit.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    SendMessageW(edit.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    app->ProcessMessages();
  }
  EXPECT_EQ(clicks, (std::vector<std::string>{"http://127.0.0.1:18765/forum/t-1"}));
}

}  // namespace
}  // namespace zelt
