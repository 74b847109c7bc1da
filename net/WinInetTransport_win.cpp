#include "net/WinInetTransport_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <type_traits>

#include "base/System_win.h"

namespace zelt {

namespace {

static_assert(inet::kOpenTypePreconfig == INTERNET_OPEN_TYPE_PRECONFIG);
static_assert(inet::kOpenTypeDirect == INTERNET_OPEN_TYPE_DIRECT);
static_assert(inet::kOpenTypeProxy == INTERNET_OPEN_TYPE_PROXY);
static_assert(inet::kServiceHttp == INTERNET_SERVICE_HTTP);
static_assert(inet::kRequestFlags == (INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE));
static_assert(inet::kFlagSecure == INTERNET_FLAG_SECURE);
static_assert(inet::kFlagNoAutoRedirect == INTERNET_FLAG_NO_AUTO_REDIRECT);
static_assert(inet::kAddReqFlagAdd == HTTP_ADDREQ_FLAG_ADD);
static_assert(inet::kQueryContentLength == HTTP_QUERY_CONTENT_LENGTH);
static_assert(inet::kQueryStatusCode == HTTP_QUERY_STATUS_CODE);
static_assert(inet::kQueryRawHeadersCrlf == HTTP_QUERY_RAW_HEADERS_CRLF);
static_assert(inet::kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(inet::kErrorInvalidUrl == ERROR_INTERNET_INVALID_URL);
static_assert(inet::kErrorExtended == ERROR_INTERNET_EXTENDED_ERROR);
static_assert(inet::kErrorTimeout == ERROR_INTERNET_TIMEOUT);

HINTERNET H(HttpHandle h) { return static_cast<HINTERNET>(h); }

// wininet.dll is no KnownDLL: it comes from the system folder, loaded with
// the first request, never from the program's folder.
struct WinInet {
  decltype(&InternetOpenA) Open = nullptr;
  decltype(&InternetSetOptionA) SetOption = nullptr;
  decltype(&InternetConnectA) Connect = nullptr;
  decltype(&HttpOpenRequestA) OpenRequest = nullptr;
  decltype(&HttpAddRequestHeadersA) AddRequestHeaders = nullptr;
  decltype(&HttpSendRequestA) SendRequest = nullptr;
  decltype(&HttpQueryInfoA) QueryInfo = nullptr;
  decltype(&InternetReadFile) ReadFile = nullptr;
  decltype(&InternetQueryDataAvailable) QueryDataAvailable = nullptr;
  decltype(&InternetCloseHandle) CloseHandle = nullptr;
  bool ok = false;

  WinInet() {
    auto get = [](auto& fn, const char* name) {
      fn = SystemFunction<std::remove_pointer_t<std::remove_reference_t<decltype(fn)>>>(L"wininet.dll", name);
      return fn != nullptr;
    };
    ok = get(Open, "InternetOpenA") && get(SetOption, "InternetSetOptionA") && get(Connect, "InternetConnectA") &&
         get(OpenRequest, "HttpOpenRequestA") && get(AddRequestHeaders, "HttpAddRequestHeadersA") &&
         get(SendRequest, "HttpSendRequestA") && get(QueryInfo, "HttpQueryInfoA") &&
         get(ReadFile, "InternetReadFile") &&
         get(QueryDataAvailable, "InternetQueryDataAvailable") && get(CloseHandle, "InternetCloseHandle");
  }
};

const WinInet& Api() {
  static const WinInet api;
  return api;
}

// Set on the Internet handle for its children, and again on each request:
// some WinInet versions take them from the request's own handle only, and a
// peer that never answers would then hold the request for ever.
void SetTimeouts(HINTERNET h) {
  for (DWORD option :
       {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    DWORD ms = WinInetTransport::kTimeoutMs;
    Api().SetOption(h, option, &ms, sizeof(ms));
  }
}

}  // namespace

HttpHandle WinInetTransport::Open(const std::string& agent, uint32_t accessType, const std::string* proxy) {
  if (!Api().ok) return nullptr;
  HINTERNET inet = Api().Open(agent.c_str(), accessType, proxy ? proxy->c_str() : nullptr, nullptr, 0);
  if (inet) SetTimeouts(inet);
  return inet;
}

HttpHandle WinInetTransport::Connect(HttpHandle inet, const std::string& host, uint16_t port,
                                     const std::string& user, const std::string& password) {
  return Api().Connect(H(inet), host.c_str(), port, user.c_str(), password.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
}

HttpHandle WinInetTransport::OpenRequest(HttpHandle conn, const std::string& path, uint32_t flags) {
  // INTERNET_FLAG_SECURE comes in `flags` for https. None of the flags or
  // options that relax the certificate checks is ever set, and with
  // INTERNET_FLAG_NO_UI a certificate fault is a failed send, not a dialog.
  HINTERNET req = Api().OpenRequest(H(conn), nullptr, path.c_str(), nullptr, nullptr, nullptr, flags, 0);
  if (req) SetTimeouts(req);
  return req;
}

bool WinInetTransport::AddRequestHeaders(HttpHandle req, const std::string& line, uint32_t flags) {
  return Api().AddRequestHeaders(H(req), line.c_str(), static_cast<DWORD>(line.size()), flags) != FALSE;
}

bool WinInetTransport::SendRequest(HttpHandle req) { return Api().SendRequest(H(req), nullptr, 0, nullptr, 0) != FALSE; }

bool WinInetTransport::QueryInfo(HttpHandle req, uint32_t level, char* buffer, uint32_t* length) {
  DWORD len = *length;
  const BOOL ok = Api().QueryInfo(H(req), level, buffer, &len, nullptr);
  *length = len;
  return ok != FALSE;
}

bool WinInetTransport::ReadFile(HttpHandle req, char* buffer, uint32_t size, uint32_t* read) {
  // Only what has arrived: some WinInet versions wait until the whole buffer
  // is full, and a reply that trickles would keep the read, its thread and
  // its connection long past the request's deadline.
  *read = 0;
  DWORD available = 0;
  if (!Api().QueryDataAvailable(H(req), &available, 0, 0)) return false;
  if (available == 0) return true;  // the end of the body
  DWORD got = 0;
  const BOOL ok = Api().ReadFile(H(req), buffer, std::min<DWORD>(size, available), &got);
  *read = got;
  return ok != FALSE;
}

void WinInetTransport::CloseHandle(HttpHandle h) { Api().CloseHandle(H(h)); }

uint32_t WinInetTransport::LastError() { return GetLastError(); }

uint64_t WinInetTransport::NowMs() { return GetTickCount64(); }

}  // namespace zelt
