// Win32 sides of the checker's ports: the registry through advapi32, the
// local clock, and where the program lives.
#pragma once

#include <string>

#include "base/Ports.h"

namespace zelt {

// Values under HKEY_CURRENT_USER (or another root, for tests): the program
// belongs to one user, and an unelevated program could not write elsewhere.
class WinRegistry final : public IRegistry {
 public:
  WinRegistry();
  // `root` is an HKEY; kept opaque so that this header needs no <windows.h>.
  explicit WinRegistry(void* root);
  bool WriteString(const std::string& key, const std::string& name, const std::wstring& value, bool create) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;

 private:
  void* root_;
};

// GetLocalTime as the date-time double.
class WinClock final : public IClock {
 public:
  double Now() const override;
};

}  // namespace zelt
