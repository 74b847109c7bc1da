// Win32 only. Small platform helpers every layer needs: where the program
// lives, and functions of system DLLs loaded on first use.
#pragma once

#include <string>

namespace zelt {

// Full path of the running executable, as the system gives it (UTF-16): a
// folder named outside cp1251 stays what it is.
std::wstring ExeFilePath();
// The folder of a path, ending in its last backslash (or slash).
std::wstring FolderOf(const std::wstring& path);

// Loads a DLL of the system folder and keeps it loaded; a DLL of the same
// name beside the exe or in the current folder is never picked up. False
// when it is missing.
bool LoadSystemLibrary(const wchar_t* dll);

// A function of a system DLL that only some uses of the program need (the
// file dialog, sound): the DLL is loaded from the system folder on the first
// call and stays. Loading such DLLs with the exe would cost every start
// memory and time (comdlg32 alone brings in the printing stack).
// nullptr when the DLL or the function is missing.
void* SystemProc(const wchar_t* dll, const char* name);
template <class F>
F* SystemFunction(const wchar_t* dll, const char* name) {
  return reinterpret_cast<F*>(SystemProc(dll, name));
}

}  // namespace zelt
