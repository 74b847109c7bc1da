#include "net/GuiRequest.h"

#include <algorithm>

namespace zelt {

TGuiRequest::TGuiRequest(SharedTransport transport, IGuiQueue& gui) : request_(std::move(transport), gui), gui_(gui) {}

// Once Stop has returned no handler of the component runs, so nothing posts
// with a ticket while the tickets go.
TGuiRequest::~TGuiRequest() { request_.Stop(); }

bool TGuiRequest::Start(const std::string& url, const TRequestOptions& options, TRequestEvents events) {
  if (Pending()) Stop();
  ticket_ = std::make_shared<TTicket>(std::move(events));
  request_.Options = options;
  Bind(ticket_);
  return request_.Start(url);
}

void TGuiRequest::Stop() {
  request_.Stop();
  ticket_.reset();
  abandoned_.clear();
}

void TGuiRequest::Abandon() {
  request_.Stop();
  std::erase_if(abandoned_, [](const std::shared_ptr<TTicket>& t) { return t->Queued == 0; });
  if (ticket_ && ticket_->Queued > 0) abandoned_.push_back(ticket_);
  ticket_.reset();
}

bool TGuiRequest::Pending() const {
  // Busy first: the request thread posts its last event before Busy turns false.
  return request_.Busy || (ticket_ && ticket_->Queued > 0);
}

// The component's handlers run only while the request is attached, so the
// ticket is alive whenever they do; what they post finds it gone once the
// request has been stopped or replaced, or this object destroyed.
void TGuiRequest::Bind(const std::shared_ptr<TTicket>& ticket) {
  const std::weak_ptr<TTicket> weak = ticket;
  auto post = [weak, gui = &gui_](std::function<void(const TRequestEvents&)> deliver) {
    if (const std::shared_ptr<TTicket> t = weak.lock()) ++t->Queued;
    gui->Post([weak, deliver = std::move(deliver)] {
      const std::shared_ptr<TTicket> t = weak.lock();
      if (!t) return;
      --t->Queued;
      deliver(t->Events);
    });
  };
  const TRequestEvents& e = ticket->Events;
  request_.OnDownloaded = nullptr;
  request_.OnError = nullptr;
  request_.OnSize = nullptr;
  request_.OnHeaders = nullptr;
  request_.OnProgress = nullptr;
  if (e.Downloaded)
    request_.OnDownloaded = [post](HTTPDownload&, TMemoryStream& data) {
      post([body = data.Bytes](const TRequestEvents& events) mutable { events.Downloaded(std::move(body)); });
    };
  if (e.Failed)
    request_.OnError = [post](HTTPDownload&, uint16_t code) {
      post([code](const TRequestEvents& events) { events.Failed(code); });
    };
  if (e.Size)
    request_.OnSize = [post](HTTPDownload&, int32_t size) {
      post([size](const TRequestEvents& events) { events.Size(size); });
    };
  if (e.Headers)
    request_.OnHeaders = [post](HTTPDownload&, const std::vector<std::string>& headers) {
      post([headers](const TRequestEvents& events) { events.Headers(headers); });
    };
  // Already on the GUI thread, sent while the request thread waits.
  if (e.Progress)
    request_.OnProgress = [weak](HTTPDownload&, int32_t done, int32_t total) {
      if (const std::shared_ptr<TTicket> t = weak.lock()) t->Events.Progress(done, total);
    };
}

}  // namespace zelt
