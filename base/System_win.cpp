#include "base/System_win.h"

#include <windows.h>

#include <vector>

namespace zelt {

std::wstring ExeFilePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  while (true) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::wstring(buf.data(), n);
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

void LoadDllsFromSystemFolderOnly() {
  // Through kernel32 by name: the call is missing on an unpatched Windows 7,
  // where the loads that name the system folder themselves still hold.
  using SetDirectoriesFn = BOOL WINAPI(DWORD);
  if (auto* set = reinterpret_cast<SetDirectoriesFn*>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"))))
    set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool LoadSystemLibrary(const wchar_t* dll) {
  return LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) != nullptr;
}

void* SystemProc(const wchar_t* dll, const char* name) {
  // The system folder only: a DLL of the same name beside the exe or in the
  // current folder is never picked up.
  HMODULE module = GetModuleHandleW(dll);
  if (!module) module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}

}  // namespace zelt

namespace zelt {

namespace {
const wchar_t kCommonControls[] = L"comctl32.dll";
}  // namespace

HIMAGELIST ImageListCreate(int cx, int cy, UINT flags, int initial, int grow) {
  auto* fn = SystemFunction<decltype(ImageList_Create)>(kCommonControls, "ImageList_Create");
  return fn ? fn(cx, cy, flags, initial, grow) : nullptr;
}

int ImageListAddMasked(HIMAGELIST list, HBITMAP bitmap, COLORREF mask) {
  auto* fn = SystemFunction<decltype(ImageList_AddMasked)>(kCommonControls, "ImageList_AddMasked");
  return fn ? fn(list, bitmap, mask) : -1;
}

HICON ImageListGetIcon(HIMAGELIST list, int index, UINT flags) {
  auto* fn = SystemFunction<decltype(ImageList_GetIcon)>(kCommonControls, "ImageList_GetIcon");
  return fn ? fn(list, index, flags) : nullptr;
}

void ImageListDestroy(HIMAGELIST list) {
  if (auto* fn = SystemFunction<decltype(ImageList_Destroy)>(kCommonControls, "ImageList_Destroy")) fn(list);
}

}  // namespace zelt
