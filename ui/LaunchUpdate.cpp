#include "ui/LaunchUpdate.h"

#include "base/Text_win.h"
#include "widgets/Shell.h"

namespace zelt {

namespace {
ShellExecuteExFn g_shellExecuteEx;

bool CallShellExecuteEx(SHELLEXECUTEINFOW& info) {
  if (g_shellExecuteEx) return g_shellExecuteEx(info);
  return ShellExecuteExW(&info) != FALSE;
}
}  // namespace

void SetShellExecuteExHook(ShellExecuteExFn fn) { g_shellExecuteEx = std::move(fn); }

std::string SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = text ? text : L"";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L' ' || message.back() == L'\r' || message.back() == L'\n'))
    message.pop_back();
  return Narrow(message);
}

bool LaunchUpdate(const std::filesystem::path& programDir, HWND appWindow, const std::string& caption) {
  // The wide call keeps a folder name outside the system's ANSI code page
  // intact; the request is the same as the ANSI one.
  const std::wstring file = (programDir / kPatchFileName).wstring();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // 0x40 | 0x100, and no error box of the shell's own: the program reports a
  // failure itself, and the shell's box would replace the error code with its
  // own (the report would then read "Success.").
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
  info.hwnd = GetActiveWindow();
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (CallShellExecuteEx(info)) {
    // The update runs on its own: nothing waits for it.
    if (info.hProcess) CloseHandle(info.hProcess);
    return true;
  }
  DWORD error = GetLastError();
  // A shell that set no error code still says why in hInstApp (its codes up
  // to 32 are the system's for the same failures).
  const auto shellCode = reinterpret_cast<INT_PTR>(info.hInstApp);
  if (error == ERROR_SUCCESS && shellCode > 0 && shellCode <= 32) error = static_cast<DWORD>(shellCode);
  ShowMessageBox(appWindow, SystemErrorText(error), caption, MB_OK | MB_SETFOREGROUND);
  return false;
}

}  // namespace zelt
