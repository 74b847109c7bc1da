// The simple controls the windows are built from. Positions and sizes are
// given at 96 DPI (they pass through Scale()); texts are cp1251.
//
//   TControl      base: bounds, visibility, enabled state, text
//   TPanel        gradient background that fills a form; controls sit on it
//   THeaderStrip  the 17-pixel title strip: title text, drag to move the
//                 window, a caption-less close/hide button at its right end
//   TLabel        text on the panel, see-through; colour, bold, sized to text
//   TButton       owner-drawn gradient button: PNG picture, caption, tooltip
//   TSeparator    an etched horizontal line
//   TProgressBar  a bar with a text drawn over it
//
// Typical use inside a form's construction routine:
//   label_.Create(Body(), 8, 24, "Text");  label_.SetColour(palette::kNavy);
//   ok_.Create(Body(), 10, 54, 103, 43, "OK");  ok_.SetPicture("NAME", 32);
//   ok_.SetHint("Tooltip");  ok_.OnClick = [this] { ... };
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/ScopedWin.h"
#include "widgets/Window.h"

namespace zelt {

class TControl : public TWindow {
 public:
  // Position and size at 96 DPI.
  void SetBounds(int x, int y, int w, int h);
  void SetVisible(bool visible);
  bool Visible() const;
  void SetEnabled(bool enabled);
  bool Enabled() const;
  virtual void SetText(const std::string& text);
  std::string Text() const;
};

class TPanel : public TControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h);
  void SetColours(COLORREF top, COLORREF bottom);
  // A one-pixel frame along the edges (a borderless window's outline).
  void SetFrame(bool on) { frame_ = on; }

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  virtual void Paint(HDC dc);

 private:
  COLORREF top_, bottom_;
  bool frame_ = false;
};

class TButton : public TControl {
 public:
  enum class Glyph { None, Close, Hide };
  ~TButton() override;
  bool Create(HWND parent, int x, int y, int w, int h, const std::string& caption = {});
  // A 16 x 16 (or 32 x 32) picture from the PNG resources; a missing resource
  // leaves the button without a picture. It is decoded when first needed, so
  // a window that stays hidden never starts the image decoder.
  void SetPicture(const char* resourceName, int size96);
  bool HasPicture() const { return Picture() != nullptr; }
  void SetGlyph(Glyph glyph) { glyph_ = glyph; }
  void SetHint(const std::string& hint);
  std::string Hint() const;
  HWND ToolTip();  // the tooltip that shows the hint, made on first use
  void SetText(const std::string& text) override;

  std::function<void()> OnClick;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void Draw(const DRAWITEMSTRUCT& dis);
  void DrawGlyph(HDC dc, const RECT& rc, bool hot, bool down);
  HBITMAP Picture() const;
  mutable TScopedBitmap picture_;
  mutable std::string pictureName_;  // set until the picture has been decoded
  int pictureSize_ = 0;
  Glyph glyph_ = Glyph::None;
  bool EnsureTool();
  void RemoveTool();
  HWND tip_ = nullptr;  // the top-level window's shared tooltip; this button is one of its tools
  std::wstring hint_;
  bool hot_ = false;
};

class THeaderStrip : public TControl {
 public:
  static constexpr int kHeight = 17;
  // Full width of the parent; the button closes or hides, as the owner decides.
  bool Create(HWND parent, int width, const std::string& title, TButton::Glyph glyph);
  TButton& CloseButton() { return close_; }

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void Paint(HDC dc);
  TButton close_;
};

class TLabel : public TControl {
 public:
  // Sized to its text unless a size is given.
  bool Create(HWND parent, int x, int y, const std::string& text, int w = 0, int h = 0);
  void SetColour(COLORREF colour);
  void SetBold(bool bold);
  void SetText(const std::string& text) override;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void FitToText();
  bool autoSize_ = true;
  bool bold_ = false;
  COLORREF colour_ = RGB(0, 0, 0);
};

class TSeparator : public TControl {
 public:
  bool Create(HWND parent, int x, int y, int w);

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
};

class TProgressBar : public TControl {
 public:
  bool Create(HWND parent, int x, int y, int w, int h);
  void SetRange(int max);
  void SetPosition(int position);
  int Position() const { return position_; }
  int Max() const { return max_; }
  // The text is drawn centred over the bar (window text).
  void SetText(const std::string& text) override;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  int max_ = 100;
  int position_ = 0;
};

}  // namespace zelt
