// TButton: an owner-drawn gradient button with a PNG picture, a caption and
// a tooltip. Position and size at 96 DPI; texts are cp1251.
//
//   ok_.Create(Body(), 10, 54, 103, 43, "OK");  ok_.SetPicture("NAME", 32);
//   ok_.SetHint("Tooltip");  ok_.OnClick = [this] { ... };
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/ScopedWin.h"
#include "widgets/Control.h"

namespace zelt {

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
  // The picture as drawn, in pixels (0 x 0 without one).
  SIZE PictureSize() const;
  void SetGlyph(Glyph glyph) { glyph_ = glyph; }
  void SetHint(const std::string& hint);
  std::string Hint() const;
  void SetText(const std::string& text) override;
  // The picture is decoded anew for the new DPI; the tooltip takes its font.
  void ChangeDpi(int dpi) override;

  std::function<void()> OnClick;

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  // A picture button is read by its tooltip, whatever its caption shows.
  std::wstring AccessibleName() const override { return hint_.empty() ? TControl::AccessibleName() : hint_; }

 private:
  void Draw(const DRAWITEMSTRUCT& dis);
  void DrawGlyph(HDC dc, const RECT& rc, bool hot, bool down);
  HBITMAP Picture() const;
  mutable TScopedBitmap picture_;
  mutable std::string pictureName_;  // set until the picture has been decoded
  std::string pictureResource_;
  int pictureSize_ = 0;
  Glyph glyph_ = Glyph::None;
  bool EnsureTool();
  void RemoveTool();
  HWND tip_ = nullptr;  // the top-level window's shared tooltip; this button is one of its tools
  std::wstring hint_;
  bool hot_ = false;
};

}  // namespace zelt
