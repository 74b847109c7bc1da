// TGuiRequest: a request owned by an object of the GUI thread (a window, the
// checker). The component raises most of its events on its request thread;
// here each is posted to the GUI thread and runs there, in the order raised,
// only while this object lives and the request has not been stopped or
// replaced by another Start. The owner needs no liveness token of its own and
// may touch its state freely in the handlers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Ports.h"
#include "net/HTTPDownload.h"
#include "net/RequestOptions.h"

namespace zelt {

// What the owner hears of its request, on the GUI thread; any may be empty.
// As with the component, Downloaded asks for the body and Size is heard only
// with it, Headers asks for the header lines. Progress comes as the component
// sends it (the request thread waits for it), so it may run before events
// posted earlier.
struct TRequestEvents {
  std::function<void(std::string body)> Downloaded;
  std::function<void(uint16_t code)> Failed;
  std::function<void(int32_t size)> Size;
  std::function<void(const std::vector<std::string>& headers)> Headers;
  std::function<void(int32_t done, int32_t total)> Progress;
};

class TGuiRequest {
 public:
  TGuiRequest(SharedTransport transport, IGuiQueue& gui);
  ~TGuiRequest();  // nothing of its requests runs afterwards
  TGuiRequest(const TGuiRequest&) = delete;
  TGuiRequest& operator=(const TGuiRequest&) = delete;

  // Begins a request for the URL with the options, copied whole; a request
  // still pending is stopped first. False as HTTPDownload::Start; a rejected
  // URL's failure still comes, posted like any other.
  bool Start(const std::string& url, const TRequestOptions& options, TRequestEvents events);
  // Ends the request; none of its events runs afterwards.
  void Stop();
  // Ends the request in the network, but what it has posted already still
  // runs, also after the next Start: an answer on its way may still be news.
  // It no longer counts as pending.
  void Abandon();
  // The component runs the request.
  bool Busy() const { return request_.Busy; }
  // The URL of the last Start.
  const std::string& Url() const { return request_.URL; }
  // Busy, or one of its posted events has not run yet: the owner has not
  // heard the request's outcome. Another request must wait for that.
  bool Pending() const;

 private:
  // One request's handlers and how many of its events wait in the GUI queue.
  // Posted events hold it weakly: once it goes (Stop, a replacing Start,
  // destruction) they run nothing.
  struct TTicket {
    explicit TTicket(TRequestEvents events) : Events(std::move(events)) {}
    const TRequestEvents Events;
    std::atomic<int> Queued{0};
  };
  void Bind(const std::shared_ptr<TTicket>& ticket);

  HTTPDownload request_;
  IGuiQueue& gui_;
  std::shared_ptr<TTicket> ticket_;                     // the current request's
  std::vector<std::shared_ptr<TTicket>> abandoned_;    // with events still queued
};

}  // namespace zelt
