// The network calls of one HTTP request, shaped like the WinInet calls that
// make it. The Windows build plugs in WinInet; tests plug in scripted replies.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace zelt {

using HttpHandle = void*;

// WinInet values the request uses.
namespace inet {
inline constexpr uint32_t kOpenTypePreconfig = 0;
inline constexpr uint32_t kOpenTypeDirect = 1;
inline constexpr uint32_t kOpenTypeProxy = 3;
inline constexpr uint32_t kServiceHttp = 3;
inline constexpr uint32_t kRequestFlags = 0x80000300;  // reload | no UI | pragma no-cache
inline constexpr uint32_t kFlagSecure = 0x00800000;    // TLS, with the certificate checked
inline constexpr uint32_t kFlagNoAutoRedirect = 0x00200000;  // a redirect is an answer, not followed
inline constexpr uint32_t kAddReqFlagAdd = 0x20000000;
inline constexpr uint32_t kQueryContentLength = 5;
inline constexpr uint32_t kQueryStatusCode = 19;
inline constexpr uint32_t kQueryRawHeadersCrlf = 22;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint16_t kErrorInvalidUrl = 12005;
inline constexpr uint16_t kErrorExtended = 12003;
// The body passed the size the caller allows (MaxBodyBytes): the system's
// "file too large".
inline constexpr uint16_t kErrorBodyTooLarge = 223;
// The body ended before, or ran past, its Content-Length, or a read failed
// part-way (WholeBodyOnly): WinInet's "connection aborted".
inline constexpr uint16_t kErrorBodyIncomplete = 12030;
// No memory or no thread for the request: the system's ERROR_NOT_ENOUGH_MEMORY.
inline constexpr uint16_t kErrorNoMemory = 8;
// The request ran past its deadline (DeadlineMs): WinInet's own timeout.
inline constexpr uint16_t kErrorTimeout = 12002;
}  // namespace inet

class IHttpTransport {
 public:
  virtual ~IHttpTransport() = default;
  // InternetOpenA(agent, accessType, proxy or none, no bypass, 0).
  virtual HttpHandle Open(const std::string& agent, uint32_t accessType, const std::string* proxy) = 0;
  // InternetConnectA(inet, host, port, user, password, INTERNET_SERVICE_HTTP, 0, 0).
  virtual HttpHandle Connect(HttpHandle inet, const std::string& host, uint16_t port,
                             const std::string& user, const std::string& password) = 0;
  // HttpOpenRequestA(conn, GET, path, default version, no referrer, no accept types, flags, 0).
  virtual HttpHandle OpenRequest(HttpHandle conn, const std::string& path, uint32_t flags) = 0;
  // HttpAddRequestHeadersA(req, line, length, flags).
  virtual bool AddRequestHeaders(HttpHandle req, const std::string& line, uint32_t flags) = 0;
  // HttpSendRequestA(req, no headers, no body).
  virtual bool SendRequest(HttpHandle req) = 0;
  // HttpQueryInfoA(req, level, buffer, &length, no index). buffer may be null.
  virtual bool QueryInfo(HttpHandle req, uint32_t level, char* buffer, uint32_t* length) = 0;
  // InternetReadFile(req, buffer, size, &read) of what has arrived: waits
  // for one byte at least, or the end of the body (0 bytes read).
  virtual bool ReadFile(HttpHandle req, char* buffer, uint32_t size, uint32_t* read) = 0;
  // InternetCloseHandle. Called from another thread while a call on the
  // handle blocks, it makes that call return, failed (a deadline does so).
  virtual void CloseHandle(HttpHandle h) = 0;
  // The calling thread's last error (GetLastError).
  virtual uint32_t LastError() = 0;
  // A monotonic count of milliseconds (GetTickCount64), the clock of the
  // requests' deadlines. Any thread may call it.
  virtual uint64_t NowMs() = 0;
};

// The transport as a request holds it. A request left behind by Stop may go on
// in the network after its component and the program's windows are gone, so
// each request keeps a share of the transport until its thread ends. Made from
// a shared_ptr it owns a share; made from a reference it owns nothing, and the
// caller keeps the transport alive past every request (a process-wide or a
// test's transport).
class SharedTransport {
 public:
  template <class T>
  SharedTransport(std::shared_ptr<T> owned) : p_(std::move(owned)) {}  // NOLINT: implicit by design
  SharedTransport(IHttpTransport& unowned) : p_(std::shared_ptr<IHttpTransport>(), &unowned) {}  // NOLINT
  IHttpTransport& operator*() const { return *p_; }
  IHttpTransport* operator->() const { return p_.get(); }
  IHttpTransport* get() const { return p_.get(); }

 private:
  std::shared_ptr<IHttpTransport> p_;
};

}  // namespace zelt
