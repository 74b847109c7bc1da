// The two places where the program hands control to the system's user
// interface outside its own windows: the shell's "open" verb (browser, help
// file) and the message box. Each goes through a replaceable function, so tests
// observe the call instead of starting a browser or blocking on a box.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>

namespace zelt {

// ShellExecute with the verb "open", no parameters, no directory, normal window.
using ShellOpenFn = std::function<void(HWND owner, const std::string& file)>;
// A message box; returns the button chosen (IDOK, ...).
using MessageBoxFn =
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT flags)>;

void ShellOpen(HWND owner, const std::string& file);
// The same for a file of the program's own, by its path as the system has it.
void ShellOpen(HWND owner, const std::filesystem::path& file);
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags);

// Replace for tests; an empty function restores the platform's call.
void SetShellOpenHook(ShellOpenFn fn);
void SetMessageBoxHook(MessageBoxFn fn);

}  // namespace zelt
