#include "net/DownloadWorker.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

#include "net/HTTPDownload.h"

namespace zelt {

namespace {

// The deadline runs on the transport's clock, which goes on while the
// machine sleeps; a wait need not. The control thread looks at the clock
// at least this often.
constexpr std::chrono::milliseconds kDeadlineGlance{1000};

// The decimal value of a query result: an optional sign and digits, nothing
// else; false for anything that is not such a number or does not fit 32 bits.
bool DecimalValue(const char* text, uint32_t length, int32_t& value) {
  size_t i = 0;
  const size_t n = std::min<size_t>(length, std::char_traits<char>::length(text));
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == n) return false;
  int64_t v = 0;
  for (; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > INT32_MAX + int64_t{1}) return false;
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

// Reads a short header value (status, Content-Length) into a 16-byte buffer,
// as the request does: a longer value makes the query fail.
bool QueryNumber(IHttpTransport& transport, HttpHandle request, uint32_t level, int32_t& value, bool& queried) {
  char buffer[16] = {};
  uint32_t length = sizeof(buffer);
  queried = transport.QueryInfo(request, level, buffer, &length);
  if (!queried) return false;
  buffer[sizeof(buffer) - 1] = '\0';
  return DecimalValue(buffer, std::min<uint32_t>(length, sizeof(buffer)), value);
}

// The raw header block as lines: CR LF, a CR alone or an LF alone ends one.
std::vector<std::string> SplitLines(const std::string& block) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < block.size(); ++i) {
    if (block[i] == '\r' || block[i] == '\n') {
      lines.push_back(block.substr(start, i - start));
      if (block[i] == '\r' && i + 1 < block.size() && block[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < block.size()) lines.push_back(block.substr(start));
  return lines;
}

}  // namespace

// Made by Start on the caller's thread, while the component is the caller's:
// what the request needs of it is copied here, whole.
DownloadWorker::DownloadWorker(HTTPDownload& owner, SharedTransport transport, IGuiQueue& gui)
    : Owner(&owner),
      target_(owner.Target),
      options_(owner.Options),
      // The caller's list is copied too: the component may be gone by the
      // time the lines are added.
      requestHeaders_(owner.RequestHeaders ? *owner.RequestHeaders : std::vector<std::string>{}),
      transportShare_(std::move(transport)),
      transport_(*transportShare_),
      gui_(gui) {
  // The deadline counts from Start, which makes the worker.
  started_ = transport_.NowMs();
  if (options_.Limits.DeadlineMs) deadline_ = started_ + options_.Limits.DeadlineMs;
}

bool DownloadWorker::Run() {
  std::shared_ptr<DownloadWorker> self = shared_from_this();
  try {
    // Nobody joins the control thread: it ends on its own once the request
    // thread has, and holds the worker alive until then.
    std::thread([self] { self->Control(); }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void DownloadWorker::Control() {
  try {
    std::shared_ptr<DownloadWorker> self = shared_from_this();
    std::thread request([self] { self->RequestThread(); });
    if (WaitPastDeadline()) Expire();
    request.join();
  } catch (const std::system_error&) {
    ReportNoMemory();  // the request thread never ran
    MarkEnded();
  }
  Finish();
}

void DownloadWorker::RequestThread() {
  try {
    Request();
  } catch (const std::exception&) {
    ReportNoMemory();  // out of memory on a copy or a buffer
  }
  CloseHandles();
  MarkEnded();
}

// A request that cannot go on for want of memory or a thread still ends with
// an event: its caller may be waiting for the answer before it sends another.
void DownloadWorker::ReportNoMemory() {
  try {
    RaiseError(inet::kErrorNoMemory);
  } catch (const std::exception&) {
  }
}

void DownloadWorker::MarkEnded() {
  {
    std::lock_guard<std::mutex> l(endLock_);
    requestEnded_ = true;
  }
  endCv_.notify_all();
}

// The end of the worker's part: a request that was not stopped clears Busy
// here, after its last event has returned.
void DownloadWorker::Finish() {
  std::lock_guard<std::mutex> l(lock_);
  if (Owner) {
    Owner->Busy = false;
    Owner = nullptr;
  }
}

bool DownloadWorker::Keep(HttpHandle& slot, HttpHandle opened) {
  std::lock_guard<std::mutex> l(handlesLock_);
  if (handlesClosed_) {
    transport_.CloseHandle(opened);
    return false;
  }
  slot = opened;
  return true;
}

void DownloadWorker::CloseHandles() {
  std::lock_guard<std::mutex> l(handlesLock_);
  if (handlesClosed_) return;
  handlesClosed_ = true;
  TRequestHandles& h = handles_;
  if (h.Request) transport_.CloseHandle(h.Request);
  if (h.Connection) transport_.CloseHandle(h.Connection);
  if (h.Internet) transport_.CloseHandle(h.Internet);
}

bool DownloadWorker::PastDeadline() {
  std::lock_guard<std::mutex> l(endLock_);
  return deadline_ && transport_.NowMs() >= *deadline_;
}

bool DownloadWorker::WaitPastDeadline() {
  std::unique_lock<std::mutex> l(endLock_);
  for (;;) {
    if (requestEnded_) return false;
    if (!deadline_) {
      endCv_.wait(l);
      continue;
    }
    const uint64_t now = transport_.NowMs();
    if (now >= *deadline_) return true;
    endCv_.wait_for(l, std::min(std::chrono::milliseconds(*deadline_ - now), kDeadlineGlance));
  }
}

void DownloadWorker::Stretch(int64_t size) {
  const uint32_t rate = options_.Limits.DeadlineBytesPerSecond;
  if (!rate || size <= 0) return;
  // Rounded up: a body of any size gets at least one millisecond per its
  // share of the rate.
  const uint64_t needed = (static_cast<uint64_t>(size) * 1000 + rate - 1) / rate;
  std::lock_guard<std::mutex> l(endLock_);
  if (deadline_ && *deadline_ < started_ + needed) deadline_ = started_ + needed;
}

// The deadline has passed: the request's outcome is a timeout, unless it
// has one already or was stopped; either way its handles go now, which
// frees a call still blocked in the network (its thread then ends on its
// own, detached like a stopped request).
void DownloadWorker::Expire() {
  {
    std::lock_guard<std::recursive_mutex> g(gate_);
    HTTPDownload* owner = nullptr;
    {
      std::lock_guard<std::mutex> l(lock_);
      if (Owner && !concluded_) owner = Owner;
      concluded_ = true;
    }
    if (owner) {
      if (owner->OnError) owner->OnError(*owner, inet::kErrorTimeout);
      // As Stop does, after the handler has returned: what arrived is
      // dropped and the component is free for the next request.
      std::lock_guard<std::mutex> l(lock_);
      Owner = nullptr;
      owner->Data.reset();
      owner->Busy = false;
    }
  }
  CloseHandles();
}

HTTPDownload* DownloadWorker::Detach() {
  std::lock_guard<std::recursive_mutex> g(gate_);
  std::lock_guard<std::mutex> l(lock_);
  HTTPDownload* was = Owner;
  Owner = nullptr;
  return was;
}

bool DownloadWorker::WaitEnded(std::chrono::milliseconds limit) {
  // Waiting on the GUI thread for a request thread that waits for the GUI
  // thread would only burn the whole limit: its progress call, once serviced,
  // finds the request detached and the thread ends on its own.
  const bool onGui = gui_.IsGuiThread();
  std::unique_lock<std::mutex> l(endLock_);
  endCv_.wait_for(l, limit, [&] { return requestEnded_ || (onGui && awaitingGui_); });
  return requestEnded_;
}

template <class F>
bool DownloadWorker::WithOwner(F&& f) {
  std::lock_guard<std::mutex> l(lock_);
  if (!Owner) return false;
  f(*Owner);
  return true;
}

// Also where the request thread meets its deadline: no step begins past it.
bool DownloadWorker::Cancelled() {
  if (PastDeadline()) Expire();
  std::lock_guard<std::mutex> l(lock_);
  return Owner == nullptr;
}

template <class F>
void DownloadWorker::Raise(F&& f, bool outcome) {
  std::lock_guard<std::recursive_mutex> g(gate_);
  HTTPDownload* owner;
  {
    std::lock_guard<std::mutex> l(lock_);
    owner = Owner;
    if (outcome) concluded_ = true;
  }
  // Outside the lock but inside the gate: Stop cannot detach (and the
  // component cannot go) until the handler has returned.
  if (owner) f(*owner);
}

void DownloadWorker::RaiseError(uint32_t code, bool outcome) {
  const auto code16 = static_cast<uint16_t>(code & 0xFFFF);
  Raise(
      [code16](HTTPDownload& o) {
        if (o.OnError) o.OnError(o, code16);
      },
      outcome);
}

bool DownloadWorker::FailWithLastError(bool outcome) {
  RaiseError(transport_.LastError(), outcome);
  return false;
}

void DownloadWorker::SendProgress(int32_t done, int32_t total) {
  {
    std::lock_guard<std::mutex> l(endLock_);
    awaitingGui_ = true;
  }
  endCv_.notify_all();
  std::shared_ptr<DownloadWorker> self = shared_from_this();
  gui_.Send([self, done, total] {
    // On the GUI thread: the request may have been stopped, and the component
    // destroyed, while this call was queued.
    self->Raise([done, total](HTTPDownload& o) {
      if (o.OnProgress) o.OnProgress(o, done, total);
    });
  });
  std::lock_guard<std::mutex> l(endLock_);
  awaitingGui_ = false;
}

void DownloadWorker::Request() {
  if (Cancelled()) return;  // stopped before the thread began: no network at all
  TRequestHandles& h = handles_;
  if (OpenConnection(h) && SendRequest(h) && ReportHeaders(h) && CheckStatus(h)) ReadBody(h);
}

bool DownloadWorker::OpenConnection(TRequestHandles& h) {
  const TRequestOptions& o = options_;
  HttpHandle internet;
  if (o.UseSystemProxy) {
    internet = transport_.Open(o.UserAgent, inet::kOpenTypePreconfig, nullptr);
  } else if (!o.ProxyServer.empty()) {
    // "http=" alone limits the proxy to HTTP, and an https request would
    // then go direct, which fails where the proxy is the only way out; an
    // https request names it for both.
    const std::string server = o.ProxyServer + ":" + std::to_string(o.ProxyPort);
    const std::string proxy = target_.Secure ? "http=" + server + " https=" + server : "http=" + server;
    internet = transport_.Open(o.UserAgent, inet::kOpenTypeProxy, &proxy);
  } else {
    internet = transport_.Open(o.UserAgent, inet::kOpenTypeDirect, nullptr);
  }
  if (!internet) return FailWithLastError();
  if (!Keep(h.Internet, internet)) return false;

  if (Cancelled()) return false;
  const TRequestTarget& t = target_;
  HttpHandle connection = transport_.Connect(h.Internet, t.HostName, t.Port, t.UserName, t.Password);
  if (!connection) return FailWithLastError();
  return Keep(h.Connection, connection) && !Cancelled();
}

bool DownloadWorker::SendRequest(TRequestHandles& h) {
  // Over TLS the certificate is checked by the system and any fault in it
  // fails the request with its WinInet code: no flag here ever ignores one.
  // Nor is a redirect followed, which could lead to plain http (some WinInet
  // versions follow that silently): it ends as a status other than 200.
  const uint32_t tls = target_.Secure ? inet::kFlagSecure | inet::kFlagNoAutoRedirect : 0u;
  HttpHandle request = transport_.OpenRequest(h.Connection, target_.Path, inet::kRequestFlags | tls);
  if (!request) return FailWithLastError();
  if (!Keep(h.Request, request)) return false;

  const bool viaProxy = options_.UseSystemProxy || !options_.ProxyServer.empty();
  for (const std::string& line : requestHeaders_) transport_.AddRequestHeaders(h.Request, line, inet::kAddReqFlagAdd);
  transport_.AddRequestHeaders(h.Request, viaProxy ? "Proxy-Connection: close" : "Connection: close",
                               inet::kAddReqFlagAdd);

  if (Cancelled()) return false;
  if (!transport_.SendRequest(h.Request)) return FailWithLastError();
  return true;
}

// The raw response headers, when the caller listens for them. A failed query
// is reported, yet the request goes on to its status.
bool DownloadWorker::ReportHeaders(TRequestHandles& h) {
  bool wantHeaders = false;
  if (!WithOwner([&](HTTPDownload& o) { wantHeaders = static_cast<bool>(o.OnHeaders); })) return false;
  if (!wantHeaders) return !Cancelled();
  uint32_t size = 0;
  if (!transport_.QueryInfo(h.Request, inet::kQueryRawHeadersCrlf, nullptr, &size)) {
    const uint32_t error = transport_.LastError();
    if (error != inet::kErrorInsufficientBuffer) {
      RaiseError(error, false);
      return !Cancelled();
    }
    std::string block(size, '\0');
    uint32_t length = size;
    if (!transport_.QueryInfo(h.Request, inet::kQueryRawHeadersCrlf, block.data(), &length)) {
      FailWithLastError(false);
      return !Cancelled();
    }
    block.resize(std::min(length, size));
    std::vector<std::string> lines = SplitLines(block);
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    Raise([&lines](HTTPDownload& o) {
      if (!o.ResponseHeaders) o.ResponseHeaders = std::make_unique<std::vector<std::string>>();
      *o.ResponseHeaders = std::move(lines);
      if (o.OnHeaders) o.OnHeaders(o, *o.ResponseHeaders);
    });
  }
  return !Cancelled();
}

bool DownloadWorker::CheckStatus(TRequestHandles& h) {
  int32_t status = 0;
  bool queried = false;
  if (!QueryNumber(transport_, h.Request, inet::kQueryStatusCode, status, queried)) {
    if (!queried) FailWithLastError(false);
    status = 0;
  }
  if (Cancelled()) return false;
  if (status == 200) return true;
  RaiseError(inet::kErrorExtended);
  return false;
}

void DownloadWorker::ReadBody(TRequestHandles& h) {
  bool wantBody = false;
  if (!WithOwner([&](HTTPDownload& o) { wantBody = static_cast<bool>(o.OnDownloaded); })) return;
  if (!wantBody) return;

  const TRequestLimits& limits = options_.Limits;
  const bool sizeOnly = limits.SizeOnly;
  int32_t length = 0;
  bool queried = false;
  if (!QueryNumber(transport_, h.Request, inet::kQueryContentLength, length, queried)) length = 0;
  contentLength_ = length > 0 ? length : -1;
  const int32_t announced = contentLength_;
  Raise(
      [announced](HTTPDownload& o) {
        o.ContentLength = announced;
        if (o.OnSize) o.OnSize(o, announced);
      },
      sizeOnly);
  if (sizeOnly) return;
  const uint32_t maxBody = limits.MaxBodyBytes;
  Stretch(announced > 0 ? announced : int64_t{maxBody});
  if (maxBody && announced > 0 && static_cast<uint32_t>(announced) > maxBody) {
    RaiseError(inet::kErrorBodyTooLarge);
    return;
  }

  bytesDone_ = 0;
  readBuffer_ = std::make_unique<char[]>(kReadChunk);
  uint32_t failure = 0;
  for (;;) {
    uint32_t got = 0;
    if (!transport_.ReadFile(h.Request, readBuffer_.get(), kReadChunk, &got)) {
      if (limits.WholeBodyOnly) failure = transport_.LastError() ? transport_.LastError() : inet::kErrorBodyIncomplete;
      break;
    }
    if (got == 0 || Cancelled()) break;
    if (maxBody && bytesDone_ + got > maxBody) {
      failure = inet::kErrorBodyTooLarge;
      break;
    }
    if (limits.WholeBodyOnly && announced > 0 && bytesDone_ + got > announced) {
      failure = inet::kErrorBodyIncomplete;
      break;
    }
    bool wantProgress = false;
    // The chunk goes into Data only while the request is attached, so Stop's
    // emptying of Data never races it; a stopped request drops it.
    if (!WithOwner([&](HTTPDownload& o) {
          if (!o.Data) o.Data = std::make_unique<TMemoryStream>();
          o.Data->Write(readBuffer_.get(), got);
          wantProgress = static_cast<bool>(o.OnProgress);
        }))
      break;
    bytesDone_ += got;
    if (wantProgress) SendProgress(static_cast<int32_t>(std::min<int64_t>(bytesDone_, INT32_MAX)), contentLength_);
  }
  readBuffer_.reset();
  if (!failure && limits.WholeBodyOnly && announced > 0 && bytesDone_ != announced)
    failure = inet::kErrorBodyIncomplete;

  if (failure) {
    // Whatever arrived is not handed over; its memory goes at once.
    WithOwner([](HTTPDownload& o) { o.Data.reset(); });
    RaiseError(failure);
    return;
  }
  Raise(
      [](HTTPDownload& o) {
        if (!o.Data) o.Data = std::make_unique<TMemoryStream>();
        o.Data->Position = 0;
        if (o.OnDownloaded) o.OnDownloaded(o, *o.Data);
      },
      true);
}

}  // namespace zelt
