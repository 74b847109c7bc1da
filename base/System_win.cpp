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

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
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
