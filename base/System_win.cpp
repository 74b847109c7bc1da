#include "base/System_win.h"

#include <windows.h>

#include <vector>

#include "base/Text_win.h"

namespace zelt {

std::string ExeFilePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  while (true) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return Narrow(std::wstring(buf.data(), n));
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
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
