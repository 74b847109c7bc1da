#include "widgets/Shell.h"

#include <shellapi.h>

#include "base/Text_win.h"

namespace zelt {

namespace {
ShellOpenFn g_shellOpen;
MessageBoxFn g_messageBox;
}  // namespace

void ShellOpen(HWND owner, const std::string& file) {
  if (g_shellOpen) {
    g_shellOpen(owner, file);
    return;
  }
  // A failure is not reported: the user simply sees nothing open.
  ShellExecuteW(owner, L"open", Widen(file).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void ShellOpen(HWND owner, const std::filesystem::path& file) {
  if (g_shellOpen) {
    g_shellOpen(owner, Narrow(file.wstring()));
    return;
  }
  ShellExecuteW(owner, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
  if (g_messageBox) return g_messageBox(owner, text, caption, flags);
  return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), flags);
}

void SetShellOpenHook(ShellOpenFn fn) { g_shellOpen = std::move(fn); }
void SetMessageBoxHook(MessageBoxFn fn) { g_messageBox = std::move(fn); }

}  // namespace zelt
