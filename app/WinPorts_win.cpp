#include "app/WinPorts_win.h"

#include <windows.h>

#include "base/ScopedWin.h"
#include "base/System_win.h"
#include "base/Text_win.h"
#include "core/Traffic.h"

namespace zelt {

namespace {

HKEY AsKey(void* root) { return static_cast<HKEY>(root); }

}  // namespace

WinRegistry::WinRegistry() : root_(HKEY_CURRENT_USER) {}
WinRegistry::WinRegistry(void* root) : root_(root) {}

bool WinRegistry::WriteString(const std::string& key, const std::string& name, const std::wstring& value,
                              bool create) {
  const std::wstring wkey = Widen(key);
  TScopedKey k;
  if (RegOpenKeyExW(AsKey(root_), wkey.c_str(), 0, KEY_READ | KEY_WRITE, k.out()) != ERROR_SUCCESS) {
    if (!create) return false;
    if (RegCreateKeyExW(AsKey(root_), wkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        k.out(), nullptr) != ERROR_SUCCESS)
      return false;
  }
  // REG_SZ with the terminating NUL counted.
  return RegSetValueExW(k.get(), Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WinRegistry::DeleteValue(const std::string& key, const std::string& name) {
  TScopedKey k;
  if (RegOpenKeyExW(AsKey(root_), Widen(key).c_str(), 0, KEY_READ | KEY_WRITE, k.out()) != ERROR_SUCCESS)
    return false;
  return RegDeleteValueW(k.get(), Widen(name).c_str()) == ERROR_SUCCESS;
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

bool WinNotificationState::UserBusy() const {
  // QUERY_USER_NOTIFICATION_STATE: 2 busy, 3 a Direct3D full-screen program,
  // 4 presentation mode, 6 quiet time (Windows 8 and later).
  using QueryFn = HRESULT WINAPI(int*);
  static auto* const query = SystemFunction<QueryFn>(L"shell32.dll", "SHQueryUserNotificationState");
  int state = 0;
  if (!query || FAILED(query(&state))) return false;
  return state == 2 || state == 3 || state == 4 || state == 6;
}

}  // namespace zelt
