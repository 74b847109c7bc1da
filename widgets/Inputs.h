// Input controls for the side windows (settings, sounds, favourites, about,
// update information). Positions and sizes at 96 DPI; texts cp1251.
//
//   TEdit         a one-line edit field; OnChange after each edit
//   TCheckBox     a check box with its caption, see-through on the panel
//   TRadioButton  a radio button; buttons on the same parent form a group
//                 when the first one is created with `groupStart`
//   TRichEdit     read-only RTF text with clickable links (OnLink)
//
//   edit_.Create(Body(), 100, 30, 120, 21, "text");  edit_.SetNumbersOnly(true);
//   check_.Create(Body(), 8, 60, 200, 17, " Caption");  check_.SetChecked(true);
//   rtf_.Create(Body(), 8, 24, 300, 200);  rtf_.SetRtf(bytes);
//   rtf_.OnLink = [](const std::string& url) { ShellOpen(nullptr, url); };
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "widgets/Controls.h"

namespace zelt {

class TEdit : public TControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h, const std::string& text = {});
  void SetNumbersOnly(bool on);
  void SetPassword(bool on);
  void SetMaxLength(int chars);
  void SetReadOnly(bool on);
  std::function<void()> OnChange;

 protected:
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
};

class TCheckBox : public TControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h, const std::string& caption);
  bool Checked() const;
  void SetChecked(bool checked);
  std::function<void()> OnClick;

 protected:
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  DWORD kind_ = BS_AUTOCHECKBOX;
};

class TRadioButton : public TCheckBox {
 public:
  bool Create(HWND parent, int x, int y, int w, int h, const std::string& caption, bool groupStart = false);
};

class TRichEdit : public TControl {
 public:
  // Read-only, links detected and reported on a click.
  bool Create(HWND parent, int x, int y, int w, int h);
  // Replaces the content by an RTF document (bytes as stored); plain text
  // that is not RTF is shown as it is.
  void SetRtf(const std::string& rtf);
  // The content as plain text (cp1251).
  std::string PlainText() const;
  std::function<void(const std::string& url)> OnLink;

 protected:
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
};

}  // namespace zelt
