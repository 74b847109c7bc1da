// Starting the downloaded patch: "sfx.exe" in the program's folder, through
// the shell's extended execute. The program neither waits for it nor ends.
// The shell call goes through a replaceable function, so tests observe the
// request (and can answer it) without starting anything.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <functional>
#include <string>

namespace zelt {

// The patch's file name beside the executable.
inline constexpr const char* kPatchFileName = "sfx.exe";

// ShellExecuteEx: true on success with info.hProcess filled; false with the
// thread's last error set to the reason.
using ShellExecuteExFn = std::function<bool(SHELLEXECUTEINFOW& info)>;
// Replace for tests; an empty function restores the platform's call.
void SetShellExecuteExHook(ShellExecuteExFn fn);

// Starts "sfx.exe" in programDir with the verb "open", shown normally and
// owned by the active window. A failure is reported in a message box owned
// by `appWindow`, brought to the foreground, titled `caption`, with the
// system's text for the error. Returns whether the patch was started.
bool LaunchUpdate(const std::filesystem::path& programDir, HWND appWindow, const std::string& caption);

// The system's message for an error code (cp1251), with trailing blanks and
// line ends removed.
std::string SystemErrorText(DWORD code);

}  // namespace zelt
