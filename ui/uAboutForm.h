// The about window: the program's about text, an RTF document kept in the
// executable's resources as RCDATA "AboutText", shown read-only. A press on
// a web address in it opens the address through the shell; the window stays.
// Esc closes it from anywhere in the window, the text included.
//
//   TAboutForm form(context);
//   form.ShowModal();
#pragma once

#include <string>

#include "ui/WindowContext.h"
#include "widgets/Form.h"
#include "widgets/RichEdit.h"

namespace zelt {

// The RCDATA resource "AboutText" of the program's module; empty when missing.
std::string LoadAboutText();

class TAboutForm final : public TForm {
 public:
  static constexpr const char* kTitle = "О программе";
  static constexpr int kWidth = 346;
  static constexpr int kHeight = 189;

  explicit TAboutForm(const TWindowContext& context);

  TRichEdit& Text() { return text_; }

 private:
  TRichEdit text_;
};

}  // namespace zelt
