// What one request is made of: where it goes (the parts of its URL) and how
// (agent, proxy, limits, deadline). A request copies both whole when it
// starts, so a caller hands the program's settings on as one value and sets
// only this request's limits.
#pragma once

#include <cstdint>
#include <string>

namespace zelt {

// What a request may take: its body and its time.
struct TRequestLimits {
  // The largest body the caller takes; 0 for no limit. A longer body, whether
  // announced by Content-Length or streamed, fails the request with
  // inet::kErrorBodyTooLarge and what was read is freed.
  uint32_t MaxBodyBytes = 0;
  // A body must be whole: one shorter or longer than its Content-Length, or a
  // read that fails part-way, fails the request (inet::kErrorBodyIncomplete,
  // or the read's own error) instead of delivering what arrived.
  bool WholeBodyOnly = false;
  // The request ends as soon as the body's size is known, without reading it.
  bool SizeOnly = false;
  // The longest a request may run, in milliseconds from Start; 0 for no
  // limit. Past it the request ends as if stopped, after raising OnError
  // with inet::kErrorTimeout unless its outcome (the body or a failure of
  // its own) has come already; its handles are closed, so that a call
  // blocked in the network returns.
  uint32_t DeadlineMs = 0;
  // Stretches DeadlineMs for a large body: once its size is known (the
  // announced Content-Length, else MaxBodyBytes) the request may run as
  // long as that many bytes take at this many bytes a second, when that is
  // longer. 0: the deadline stays DeadlineMs.
  uint32_t DeadlineBytesPerSecond = 0;
};

struct TRequestOptions {
  std::string UserAgent = "Corvan HTTPClient/2.1";
  std::string ProxyServer;  // none: the request goes direct
  uint16_t ProxyPort = 3128;
  // The system's preconfigured Internet settings instead of ProxyServer.
  bool UseSystemProxy = false;
  TRequestLimits Limits;

  // The same agent and proxy with other limits.
  TRequestOptions With(const TRequestLimits& limits) const {
    TRequestOptions options = *this;
    options.Limits = limits;
    return options;
  }
};

// A URL as Start splits it.
struct TRequestTarget {
  bool Secure = false;  // "https": the request runs over TLS
  uint16_t Port = 0;
  std::string HostName;
  std::string Path;  // with the query; also the base of "./" and "../" forms
  std::string UserName;
  std::string Password;
};

}  // namespace zelt
