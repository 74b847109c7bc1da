// HTTPDownload: the program's one HTTP client. Each request runs on threads of
// its own; the body arrives whole in OnDownloaded, failures as a 16-bit code in
// OnError, and OnProgress reaches the GUI thread synchronously.
//
// Threads. Start, Stop and destruction belong to the caller's (GUI) thread.
// OnError (except the 12005 of a rejected URL, raised inside Start), OnHeaders,
// OnSize and OnDownloaded run on the request thread; OnProgress runs on the GUI
// thread through IGuiQueue::Send while the request thread waits for it.
// Request-thread handlers run while their request holds its event gate, which
// Stop takes to detach the request: such a handler must be short, must not wait
// for the GUI thread (post to the GUI queue instead) and must not call Start or
// Stop of its own component.
//
// Lifetime. After Stop (or destruction) a request still blocked in the network
// is left to finish on its own; it never touches the component again, and it
// keeps its share of the transport until it ends. The GUI queue is
// application-wide and must outlive every request a component has started.
//
// A request with a deadline (Options.Limits.DeadlineMs) ends when it passes,
// whatever the server does: OnError with inet::kErrorTimeout comes from the
// worker's control thread then, like any other request-thread event.
//
// Fields other than Busy and ContentLength are the caller's: set them while
// the component is idle, read Data and ResponseHeaders in the handlers or while
// Busy is false. Start copies Options, Target and the RequestHeaders lines for
// its request: later changes reach only the next one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Ports.h"
#include "net/HttpTransport.h"
#include "net/RequestOptions.h"

namespace zelt {

// An in-memory stream of bytes with a position, as the body is handed over.
struct TMemoryStream {
  std::string Bytes;
  size_t Position = 0;
  size_t Size() const { return Bytes.size(); }
  void SetSize(size_t n) {
    Bytes.resize(n);
    if (Position > n) Position = n;
  }
  // Writes at the position, growing the stream as needed, and moves past it.
  void Write(const char* p, size_t n) {
    if (Position + n > Bytes.size()) Bytes.resize(Position + n);
    Bytes.replace(Position, n, p, n);
    Position += n;
  }
};

class DownloadWorker;

class HTTPDownload {
 public:
  // The transport makes the network calls; the GUI queue carries OnProgress.
  HTTPDownload(SharedTransport transport, IGuiQueue& gui);
  ~HTTPDownload();  // Stops first.
  HTTPDownload(const HTTPDownload&) = delete;
  HTTPDownload& operator=(const HTTPDownload&) = delete;

  std::shared_ptr<DownloadWorker> Worker;
  std::unique_ptr<std::vector<std::string>> ResponseHeaders;
  const std::vector<std::string>* RequestHeaders = nullptr;  // the caller's
  std::unique_ptr<TMemoryStream> Data;
  std::string URL;
  std::atomic<bool> Busy{false};
  // The parts of URL, written by Start.
  TRequestTarget Target;
  // Agent, proxy and limits of the next request.
  TRequestOptions Options;
  std::atomic<int32_t> ContentLength{0};

  std::function<void(HTTPDownload& sender, uint16_t code)> OnError;
  std::function<void(HTTPDownload& sender, const std::vector<std::string>& headers)> OnHeaders;
  std::function<void(HTTPDownload& sender, int32_t bytesDone, int32_t bytesTotal)> OnProgress;
  std::function<void(HTTPDownload& sender, TMemoryStream& data)> OnDownloaded;
  std::function<void(HTTPDownload& sender, int32_t size)> OnSize;

  // Begins a request; false (without starting) for a rejected URL or while the
  // previous request cannot be stopped. Never blocks on the network.
  bool Start(const std::string& url);
  // Cancels the running request; returns within about 200 ms. No event of
  // the stopped request is raised afterwards.
  void Stop();

 private:
  SharedTransport transport_;
  IGuiQueue& gui_;
};

// Splits a URL into its parts. `path` is read first as the base for "./" and
// "../" forms, then overwritten.
void ParseURL(const std::string& url, std::string& protocol, std::string& userName,
              std::string& password, std::string& hostName, std::string& port, std::string& path);

// 1-based position of the last occurrence of `sub` in `s`; 0 when none.
int LastPos(const std::string& sub, const std::string& s);

}  // namespace zelt
