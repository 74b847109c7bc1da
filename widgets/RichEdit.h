// A rich-text control: loads an RTF document from memory or takes plain
// text, optionally read-only, and recognises web addresses in its text,
// reporting a mouse press on one (left or right button) with the address.
// Several lines, a vertical scroll bar, no horizontal one, the system's
// window colour as background.
//
//   text_.Create(Body(), 8, 24, 330, 157);
//   text_.SetUrlDetection(true);
//   text_.OnLinkClick = [this](const std::string& url) { Desktop().Open(Handle(), url); };
//   text_.LoadRtf(rtf);
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "widgets/Control.h"

namespace zelt {

class TRichEdit : public TControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h, bool readOnly = true);
  void ChangeDpi(int dpi) override;

  // Replaces the whole content by an RTF document (bytes as stored; non-ASCII
  // text inside is the document's own business, \'xx or \uN escapes). False
  // when the control took nothing.
  bool LoadRtf(const std::string& rtf);
  // Replaces the whole content by plain cp1251 text in the control's font.
  void SetPlainText(const std::string& text);
  void Clear();
  // The content as plain cp1251 text (paragraphs end in CR LF).
  std::string PlainText() const;
  // Characters from `first` up to, not including, `last`.
  std::string TextRange(int first, int last) const;

  bool ReadOnly() const;
  // Automatic recognition of web addresses; with it on, a press on an
  // address raises OnLinkClick.
  void SetUrlDetection(bool on);

  // The left or right mouse button pressed on a recognised address: the text
  // of the address as shown.
  std::function<void(const std::string& url)> OnLinkClick;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void SetTextRect();
};

}  // namespace zelt
