#include "widgets/FileDialog.h"

#include <commdlg.h>

#include "base/Text_win.h"
#include "base/System_win.h"

namespace zelt {

namespace {

FileDialogFn g_hook;

bool RunDialog(FileDialogKind kind, const TFileDialogRequest& request, std::string& path) {
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
  const std::wstring defaultExt = Widen(request.DefaultExt);
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
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  ofn.Flags = request.Flags;
  using DialogFn = BOOL WINAPI(OPENFILENAMEW*);
  DialogFn* dialog = SystemFunction<DialogFn>(
      L"comdlg32.dll", kind == FileDialogKind::Open ? "GetOpenFileNameW" : "GetSaveFileNameW");
  if (!dialog || !dialog(&ofn)) return false;
  path = PathText(buffer.c_str());
  return true;
}

bool Run(FileDialogKind kind, const TFileDialogRequest& request, std::string& path) {
  if (g_hook) return g_hook(kind, request, path);
  return RunDialog(kind, request, path);
}

}  // namespace

bool OpenFileDialog(const TFileDialogRequest& request, std::string& path) {
  return Run(FileDialogKind::Open, request, path);
}

bool SaveFileDialog(const TFileDialogRequest& request, std::string& path) {
  return Run(FileDialogKind::Save, request, path);
}

void SetFileDialogHook(FileDialogFn fn) { g_hook = std::move(fn); }

}  // namespace zelt
