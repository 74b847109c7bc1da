#include "net/NetworkChange_win.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>

#include "base/System_win.h"

namespace zelt {

// What the platform's thread reaches: the queue and the handler. Posted
// handlers hold it weakly and do nothing once the watch is gone.
struct TNetworkWatch::TShared {
  IGuiQueue& Gui;
  std::function<void()> Changed;
  std::weak_ptr<TShared> Self;
};

namespace {

using NotifyFn = DWORD WINAPI(ADDRESS_FAMILY, PUNICAST_IPADDRESS_CHANGE_CALLBACK, PVOID, BOOLEAN, HANDLE*);
using CancelFn = DWORD WINAPI(HANDLE);

}  // namespace

TNetworkWatch::TNetworkWatch(IGuiQueue& gui, std::function<void()> changed)
    : shared_(std::make_shared<TShared>(TShared{gui, std::move(changed), {}})) {
  shared_->Self = shared_;
  // iphlpapi is loaded here rather than with the exe; an older system
  // without the call goes without the notification.
  auto* notify = SystemFunction<NotifyFn>(L"iphlpapi.dll", "NotifyUnicastIpAddressChange");
  if (!notify) return;
  HANDLE handle = nullptr;
  const auto callback = [](PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE type) {
    // A new address, or one that became usable: the network is (back) there.
    if (type != MibAddInstance && type != MibParameterNotification) return;
    auto* shared = static_cast<TShared*>(context);
    std::weak_ptr<TShared> weak = shared->Self;
    shared->Gui.Post([weak] {
      if (auto s = weak.lock()) s->Changed();
    });
  };
  if (notify(AF_UNSPEC, callback, shared_.get(), FALSE, &handle) == NO_ERROR) handle_ = handle;
}

TNetworkWatch::~TNetworkWatch() {
  // Waits for a report in progress; none comes afterwards.
  if (handle_) {
    if (auto* cancel = SystemFunction<CancelFn>(L"iphlpapi.dll", "CancelMibChangeNotify2")) cancel(handle_);
  }
  shared_.reset();
}

}  // namespace zelt
