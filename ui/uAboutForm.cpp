#include "ui/uAboutForm.h"

#include "widgets/Desktop.h"

namespace zelt {

std::string LoadAboutText() {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(module, L"AboutText", MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!res) return {};
  HGLOBAL global = LoadResource(module, res);
  const void* bytes = global ? LockResource(global) : nullptr;
  const DWORD size = SizeofResource(module, res);
  if (!bytes || size == 0) return {};
  return std::string(static_cast<const char*>(bytes), size);
}

TAboutForm::TAboutForm(const TWindowContext& context) {
  CreateForm(kTitle, kTitle, kWidth, kHeight, context.Owner);
  text_.Create(Body(), 8, 24, 330, 157, true);
  text_.SetAccessibleName(Strip().Text());
  text_.SetUrlDetection(true);
  text_.OnLinkClick = [this](const std::string& url) { Desktop().Open(Handle(), url); };
  // Read afresh at every opening.
  text_.LoadRtf(LoadAboutText());
  CentreOnScreen();
}

}  // namespace zelt
