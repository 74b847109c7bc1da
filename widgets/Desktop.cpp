#include "widgets/Desktop.h"

#include <commdlg.h>

#include "base/System_win.h"
#include "base/Text_win.h"

namespace zelt {

void TSystemDesktop::Open(HWND owner, const std::string& document) { OpenFile(owner, Widen(document)); }

void TSystemDesktop::OpenFile(HWND owner, const std::wstring& path) {
  ShellExecuteW(owner, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

int TSystemDesktop::Message(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
  return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), flags);
}

bool TSystemDesktop::ChooseFile(TFileDialogKind kind, const TFileDialogRequest& request, std::string& path) {
  // "description\0pattern\0...\0\0"
  std::wstring filter;
  for (const auto& [description, pattern] : request.Filters) {
    filter += Widen(description);
    filter += L'\0';
    filter += Widen(pattern);
    filter += L'\0';
  }
  filter += L'\0';
  const std::wstring initialDir = Widen(request.InitialDir);
  const std::wstring title = Widen(request.Title);

  // Room for a long path; the dialog refuses what does not fit.
  std::wstring buffer = Widen(request.FileName);
  buffer.resize(32768, L'\0');

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = request.Owner;
  ofn.lpstrFilter = request.Filters.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  ofn.Flags = request.Flags;
  using DialogFn = BOOL WINAPI(OPENFILENAMEW*);
  DialogFn* dialog = SystemFunction<DialogFn>(
      L"comdlg32.dll", kind == TFileDialogKind::Open ? "GetOpenFileNameW" : "GetSaveFileNameW");
  if (!dialog || !dialog(&ofn)) return false;
  path = PathText(buffer.c_str());
  return true;
}

bool TSystemDesktop::Start(SHELLEXECUTEINFOW& info) { return ShellExecuteExW(&info) != FALSE; }

}  // namespace zelt
