// DownloadWorker: one request of an HTTPDownload. Internal to the component.
//
// Three threads meet here. The caller's (GUI) thread starts the worker and may
// detach it (Stop). The control thread starts the request thread, waits for it
// and then ends the worker's part in the request ("destroys" it: the shared
// object itself goes when the last of its holders lets go). The request thread
// makes the network calls and raises the events.
//
// `lock_` guards Owner, the link to the component: every cancellation check
// and every read or write of the component are made under it while Owner is
// set, so nothing of the component is touched once Stop has detached it.
// `gate_` is held while an event is raised, and Stop takes it to detach, so no
// handler can still be running when Stop returns (and the component may be
// destroyed). The gate is recursive: a handler on the GUI thread (OnProgress)
// may call Stop. What the request needs of the component (its target, options
// and extra header lines) is copied whole when Start makes the worker.
//
// A deadline is kept by the control thread while it waits for the request
// thread, and checked by the request thread between its steps: whichever
// finds it passed ends the request (Expire) unless its outcome has been
// raised already, and closes the request's handles to free a blocked call.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Ports.h"
#include "net/HttpTransport.h"
#include "net/RequestOptions.h"

namespace zelt {

class HTTPDownload;

// The handles of one request, closed once, in the order request,
// connection, Internet handle.
struct TRequestHandles {
  HttpHandle Internet = nullptr;
  HttpHandle Connection = nullptr;
  HttpHandle Request = nullptr;
};

class DownloadWorker : public std::enable_shared_from_this<DownloadWorker> {
 public:
  static constexpr uint32_t kReadChunk = 4096;

  DownloadWorker(HTTPDownload& owner, SharedTransport transport, IGuiQueue& gui);
  DownloadWorker(const DownloadWorker&) = delete;
  DownloadWorker& operator=(const DownloadWorker&) = delete;

  // Starts the control thread. False when no thread could be created.
  bool Run();
  // Unlinks the component (waiting for a running handler to return) and
  // returns the component it was linked to, or null when it was already gone.
  HTTPDownload* Detach();
  // Waits up to `limit` for the request thread to end. Returns at once when
  // called on the GUI thread while the request thread waits for the GUI thread.
  // True when the request thread has ended.
  bool WaitEnded(std::chrono::milliseconds limit);

 private:
  void Control();
  void RequestThread();
  // The request, step by step; each step raises its own failure and answers
  // whether the request goes on.
  void Request();
  bool OpenConnection(TRequestHandles& h);
  bool SendRequest(TRequestHandles& h);
  bool ReportHeaders(TRequestHandles& h);
  bool CheckStatus(TRequestHandles& h);
  void ReadBody(TRequestHandles& h);
  void MarkEnded();
  void Finish();
  void ReportNoMemory();
  // Records a handle just opened; false (closing it) once the request's
  // handles have been closed.
  bool Keep(HttpHandle& slot, HttpHandle opened);
  void CloseHandles();

  // The deadline: whether it has passed, waiting for it on the control
  // thread (true when it passed before the request thread ended), moving it
  // for the body's size, and ending the request when it has passed.
  bool PastDeadline();
  bool WaitPastDeadline();
  void Stretch(int64_t size);
  void Expire();

  // Calls f(owner) under the lock while attached; false when detached.
  template <class F>
  bool WithOwner(F&& f);
  bool Cancelled();
  // Raises an event through f(owner) under the gate, when still attached.
  // The request's outcome (its last event) is raised with `outcome` set:
  // after it the deadline raises nothing.
  template <class F>
  void Raise(F&& f, bool outcome = false);
  void RaiseError(uint32_t code, bool outcome = true);
  // Raises the transport's last error; false, so a step can return it.
  bool FailWithLastError(bool outcome = true);
  void SendProgress(int32_t done, int32_t total);

  HTTPDownload* Owner;  // guarded by lock_
  bool concluded_ = false;  // guarded by lock_: the outcome has been raised
  std::mutex lock_;
  std::recursive_mutex gate_;
  std::unique_ptr<char[]> readBuffer_;  // kReadChunk bytes during the body loop

  // Copies taken when Start makes the worker.
  const TRequestTarget target_;
  const TRequestOptions options_;
  const std::vector<std::string> requestHeaders_;

  int32_t contentLength_ = 0;
  int64_t bytesDone_ = 0;

  // The worker's own share: the transport lives until the request thread,
  // which closes its handles last, has let the worker go.
  SharedTransport transportShare_;
  IHttpTransport& transport_;
  IGuiQueue& gui_;

  // The end of the request thread, and whether it waits for the GUI thread;
  // the deadline on the transport's clock (none without DeadlineMs).
  std::mutex endLock_;
  std::condition_variable endCv_;
  bool requestEnded_ = false;
  bool awaitingGui_ = false;
  uint64_t started_ = 0;
  std::optional<uint64_t> deadline_;

  // Written by the request thread as it opens them; closed by whoever ends
  // the request, under handlesLock_.
  std::mutex handlesLock_;
  TRequestHandles handles_;
  bool handlesClosed_ = false;
};

}  // namespace zelt
