// Win32 only. Tells when the machine gains a network address (a cable plugged
// in, a wireless network joined, a VPN up): the platform reports it on a
// thread of its own, and the report is posted to the GUI queue.
#pragma once

#include <functional>
#include <memory>

#include "base/Ports.h"

namespace zelt {

class TNetworkWatch {
 public:
  // `changed` runs on the GUI thread, never after destruction.
  TNetworkWatch(IGuiQueue& gui, std::function<void()> changed);
  ~TNetworkWatch();
  TNetworkWatch(const TNetworkWatch&) = delete;
  TNetworkWatch& operator=(const TNetworkWatch&) = delete;

 private:
  struct TShared;
  std::shared_ptr<TShared> shared_;
  void* handle_ = nullptr;
};

}  // namespace zelt
