// Win32 sides of the ports: the registry through advapi32, the local clock,
// and the user's notification state through the shell.
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

// SHQueryUserNotificationState: busy while a full-screen program or a
// presentation runs, or in quiet hours. Where the shell cannot tell, the
// user is not busy: news is better shown than lost.
class WinNotificationState final : public INotificationState {
 public:
  bool UserBusy() const override;
};

}  // namespace zelt
