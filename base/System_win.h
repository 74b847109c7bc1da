// Win32 only. Small platform helpers every layer needs: where the program
// lives, and functions of system DLLs loaded on first use.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "base/Path.h"

namespace zelt {

// Full path of the running executable, as the system gives it (UTF-16): a
// folder named outside cp1251 stays what it is.
std::wstring ExeFilePath();

// From here on, DLLs that the process loads by name without a path (the
// system's own DLLs included, when they load others) come from the system
// folder only, never from the program's or the current folder. The first
// thing a program's entry does.
void LoadDllsFromSystemFolderOnly();

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

// The image list calls of the common controls. comctl32.dll is no KnownDLL,
// so the program does not import it: it is loaded from the system folder
// (version 6, through the program's manifest) with the first control. They
// fail as their namesakes do when it is missing.
HIMAGELIST ImageListCreate(int cx, int cy, UINT flags, int initial, int grow);
int ImageListAddMasked(HIMAGELIST list, HBITMAP bitmap, COLORREF mask);
HICON ImageListGetIcon(HIMAGELIST list, int index, UINT flags);
void ImageListDestroy(HIMAGELIST list);

}  // namespace zelt
