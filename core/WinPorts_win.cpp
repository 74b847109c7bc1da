#include "core/WinPorts_win.h"

#include <windows.h>

#include <vector>

#include "core/Text_win.h"
#include "core/Traffic.h"

namespace zelt {

namespace {

class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

HKEY AsKey(void* root) { return static_cast<HKEY>(root); }

}  // namespace

WinRegistry::WinRegistry() : root_(HKEY_LOCAL_MACHINE) {}
WinRegistry::WinRegistry(void* root) : root_(root) {}

bool WinRegistry::WriteString(const std::string& key, const std::string& name, const std::string& value,
                              bool create) {
  Key k;
  if (RegOpenKeyExA(AsKey(root_), key.c_str(), 0, KEY_READ | KEY_WRITE, k.out()) != ERROR_SUCCESS) {
    if (!create) return false;
    if (RegCreateKeyExA(AsKey(root_), key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        k.out(), nullptr) != ERROR_SUCCESS)
      return false;
  }
  // REG_SZ with the terminating NUL counted.
  return RegSetValueExA(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool WinRegistry::DeleteValue(const std::string& key, const std::string& name) {
  Key k;
  if (RegOpenKeyExA(AsKey(root_), key.c_str(), 0, KEY_READ | KEY_WRITE, k.out()) != ERROR_SUCCESS) return false;
  return RegDeleteValueA(k.get(), name.c_str()) == ERROR_SUCCESS;
}

double WinClock::Now() const {
  SYSTEMTIME st;
  GetLocalTime(&st);
  TCivilTime t;
  t.Year = st.wYear;
  t.Month = st.wMonth;
  t.Day = st.wDay;
  t.Hour = st.wHour;
  t.Minute = st.wMinute;
  t.Second = st.wSecond;
  t.Millisecond = st.wMilliseconds;
  return EncodeDateTime(t);
}

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
