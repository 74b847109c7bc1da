// Win32 sides of the checker's ports: the registry through advapi32, the
// local clock, and where the program lives.
#pragma once

#include <string>

#include "core/Ports.h"

namespace zelt {

// Values under HKEY_LOCAL_MACHINE (or another root, for tests).
class WinRegistry final : public IRegistry {
 public:
  WinRegistry();
  // `root` is an HKEY; kept opaque so that this header needs no <windows.h>.
  explicit WinRegistry(void* root);
  bool WriteString(const std::string& key, const std::string& name, const std::string& value, bool create) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;

 private:
  void* root_;
};

// GetLocalTime as the date-time double.
class WinClock final : public IClock {
 public:
  double Now() const override;
};

// Full path of the running executable (cp1251).
std::string ExeFilePath();
// The folder of a path, ending in its last backslash (or slash).
std::string FolderOf(const std::string& path);

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
