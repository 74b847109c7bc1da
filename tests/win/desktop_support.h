// For the tests of the windows as keyboard, screen-reader, high-contrast and
// high-DPI users meet them: every window of the program opened the way the
// user opens it, and names read through Active Accessibility.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <functional>
#include <string>

#include "tests/support/Win.h"

namespace zelt::fake {

// The name (and role) a screen reader reads for a window's client area, as
// AccessibleObjectFromWindow and get_accName give it; "<none>" without an object.
inline std::string AccName(HWND hwnd, long* role = nullptr) {
  using FromWindow = HRESULT WINAPI(HWND, DWORD, REFIID, void**);
  static auto* fromWindow = reinterpret_cast<FromWindow*>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"oleacc.dll"), "AccessibleObjectFromWindow")));
  IAccessible* acc = nullptr;
  if (!fromWindow || FAILED(fromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                       reinterpret_cast<void**>(&acc))) || !acc)
    return "<none>";
  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  acc->get_accName(self, &name);
  std::string out = name ? Narrow(std::wstring(name, SysStringLen(name))) : "";
  SysFreeString(name);
  if (role) {
    VARIANT r;
    VariantInit(&r);
    acc->get_accRole(self, &r);
    *role = r.vt == VT_I4 ? r.lVal : 0;
  }
  acc->Release();
  return out;
}

// Every window of the program, shown as the user sees it.
class DesktopTest : public MainWindowTest {
 protected:
  // The main window and the popup shown, then each side window inside its
  // own modal loop, opened from the main window by its kind; `check` runs
  // on each with the window's name.
  void ForEachWindow(const std::function<void(const std::string& name, TForm& form)>& check) {
    main->ShowFromTray();
    app->ProcessMessages();
    check("main", *main);
    main->ShowInfo();
    app->ProcessMessages();
    check("popup", *info);
    info->Hide();
    static const char* const kNames[] = {"", "sounds", "settings", "favorites", "update info",
                                         "traffic", "about", "download"};
    for (int kind = 1; kind <= 7; ++kind) {
      RunLater([&, kind] {
        TForm* form = main->Dialog(kind);
        ASSERT_NE(form, nullptr) << kNames[kind];
        app->ProcessMessages();
        check(kNames[kind], *form);
        form->Close();
      });
      main->ShowDialog(kind);
    }
  }
};

}  // namespace zelt::fake
