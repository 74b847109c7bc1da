// The input controls that later windows build on: edit, check box, radio
// buttons, rich edit.
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include "support/ui_harness.h"
#include "widgets/Form.h"
#include "widgets/Inputs.h"

namespace zelt::test {
namespace {

class TInputForm final : public TForm {
 public:
  TInputForm() {
    CreateForm("Inputs", "Inputs", 320, 260, nullptr);
    edit.Create(Body(), 8, 24, 120, 21, "Иван");
    check.Create(Body(), 8, 50, 200, 17, " Использовать звуки");
    radioA.Create(Body(), 8, 70, 100, 17, "А", true);
    radioB.Create(Body(), 8, 90, 100, 17, "Б");
    rich.Create(Body(), 8, 110, 300, 140);
  }
  TEdit edit;
  TCheckBox check;
  TRadioButton radioA, radioB;
  TRichEdit rich;
};

class InputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TApplication>("simple");
    form = std::make_unique<TInputForm>();
    form->Show(true);
  }
  void TearDown() override {
    form.reset();
    app.reset();
  }
  std::unique_ptr<TApplication> app;
  std::unique_ptr<TInputForm> form;
};

TEST_F(InputsTest, EditKeepsRussianTextAndReportsChanges) {
  int changes = 0;
  form->edit.OnChange = [&] { ++changes; };
  EXPECT_EQ(form->edit.Text(), "Иван");
  SendMessageW(form->edit.Handle(), WM_CHAR, L'ё', 1);
  EXPECT_GE(changes, 1);
  EXPECT_NE(form->edit.Text().find("ё"), std::string::npos);
  form->edit.SetNumbersOnly(true);
  EXPECT_NE(GetWindowLongW(form->edit.Handle(), GWL_STYLE) & ES_NUMBER, 0);
  form->edit.SetPassword(true);
  EXPECT_EQ(SendMessageW(form->edit.Handle(), EM_GETPASSWORDCHAR, 0, 0), L'*');
}

TEST_F(InputsTest, CheckBoxTogglesOnClick) {
  int clicks = 0;
  form->check.OnClick = [&] { ++clicks; };
  EXPECT_FALSE(form->check.Checked());
  SendMessageW(form->check.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form->check.Checked());
  EXPECT_EQ(clicks, 1);
  form->check.SetChecked(false);
  EXPECT_FALSE(form->check.Checked());
  EXPECT_EQ(form->check.Text(), " Использовать звуки");
}

TEST_F(InputsTest, RadioButtonsOfAGroupExcludeEachOther) {
  SendMessageW(form->radioA.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form->radioA.Checked());
  SendMessageW(form->radioB.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form->radioB.Checked());
  EXPECT_FALSE(form->radioA.Checked());
}

TEST_F(InputsTest, RichEditShowsRtfAndReportsLinkClicks) {
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fcharset204 Arial;}}"
      "\\f0\\b \\'cd\\'ee\\'e2\\'e0\\'ff \\b0 \\'e2\\'e5\\'f0\\'f1\\'e8\\'ff\\par "
      "http://127.0.0.1/forum/news\\par}";
  form->rich.SetRtf(rtf);
  const std::string text = form->rich.PlainText();
  EXPECT_EQ(text.rfind("Новая версия", 0), 0u) << text;
  const size_t at = text.find("http://");
  ASSERT_NE(at, std::string::npos);

  std::vector<std::string> links;
  form->rich.OnLink = [&](const std::string& url) { links.push_back(url); };
  POINTL pt{};
  SendMessageW(form->rich.Handle(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&pt), static_cast<LPARAM>(at + 3));
  const LPARAM pos = MAKELPARAM(pt.x + 2, pt.y + 4);
  SendMessageW(form->rich.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, pos);
  SendMessageW(form->rich.Handle(), WM_LBUTTONUP, 0, pos);
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0], "http://127.0.0.1/forum/news");

  // Text that is not RTF is shown as it is.
  form->rich.SetRtf("просто текст");
  EXPECT_EQ(form->rich.PlainText(), "просто текст");
}

}  // namespace
}  // namespace zelt::test
