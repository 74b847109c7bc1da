#include "tests/win/support/LocalHttpServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace zelt::test {

namespace {

constexpr size_t kMaxRequestHead = 64 * 1024;
constexpr DWORD kSocketTimeoutMs = 10000;  // no connection thread waits longer on a silent peer

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Parses the head of a request (without the blank line that ends it).
HttpRequestRecord ParseHead(const std::string& head) {
  HttpRequestRecord r;
  size_t pos = 0;
  bool first = true;
  while (pos <= head.size()) {
    size_t end = head.find("\r\n", pos);
    if (end == std::string::npos) end = head.size();
    const std::string line = head.substr(pos, end - pos);
    if (first) {
      r.RequestLine = line;
      const size_t a = line.find(' ');
      const size_t b = line.rfind(' ');
      if (a != std::string::npos && b != std::string::npos && b > a) {
        r.Method = line.substr(0, a);
        r.Target = line.substr(a + 1, b - a - 1);
        r.Version = line.substr(b + 1);
      }
      first = false;
    } else if (!line.empty()) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) r.Headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    pos = end + 2;
  }
  return r;
}

bool SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    const int n = send(s, data, static_cast<int>(std::min<size_t>(size, 1 << 16)), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

SOCKET Listen(uint16_t& port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  int len = sizeof(addr);
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(s, SOMAXCONN) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  port = ntohs(addr.sin_port);
  return s;
}

}  // namespace

std::vector<std::string> HttpRequestRecord::HeaderValues(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& [n, v] : Headers)
    if (SameName(n, name)) values.push_back(v);
  return values;
}

std::string HttpRequestRecord::Header(const std::string& name) const {
  const auto values = HeaderValues(name);
  return values.empty() ? std::string() : values.front();
}

struct LocalHttpServer::State {
  // Winsock for as long as a server (or a port probe) needs it.
  struct WinsockUser {
    WinsockUser() {
      WSADATA data;
      ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUser() {
      if (ok) WSACleanup();
    }
    bool ok = false;
  };

  WinsockUser winsock;
  SOCKET listener = INVALID_SOCKET;
  uint16_t port = 0;
  std::thread acceptor;

  mutable std::mutex mu;
  mutable std::condition_variable cv;
  bool stopping = false;
  Handler handler;
  std::vector<HttpRequestRecord> requests;
  size_t aborted = 0;
  std::set<SOCKET> open;  // connections being served
  std::vector<std::thread> connections;

  void Accept() {
    for (;;) {
      SOCKET c = accept(listener, nullptr, nullptr);
      if (c == INVALID_SOCKET) return;  // the listener was closed
      std::lock_guard<std::mutex> l(mu);
      if (stopping) {
        closesocket(c);
        return;
      }
      open.insert(c);
      connections.emplace_back([this, c] { Serve(c); });
    }
  }

  void Serve(SOCKET c) {
    DWORD timeout = kSocketTimeoutMs;
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    std::string head;
    char buffer[4096];
    size_t end = std::string::npos;
    while ((end = head.find("\r\n\r\n")) == std::string::npos && head.size() < kMaxRequestHead) {
      const int n = recv(c, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      head.append(buffer, static_cast<size_t>(n));
    }
    if (end != std::string::npos) Respond(c, ParseHead(head.substr(0, end)));
    shutdown(c, SD_SEND);  // the response ends here
    std::lock_guard<std::mutex> l(mu);
    open.erase(c);
    closesocket(c);
  }

  void Respond(SOCKET c, HttpRequestRecord request) {
    Handler h;
    {
      std::lock_guard<std::mutex> l(mu);
      requests.push_back(request);
      h = handler;
      cv.notify_all();
    }
    const HttpResponse r = h ? h(request) : HttpResponse{};
    std::string head = "HTTP/1.1 " + std::to_string(r.Status) + " " + r.Reason + "\r\n";
    if (r.SendContentLength) head += "Content-Length: " + std::to_string(r.Body.size()) + "\r\n";
    for (const auto& line : r.Headers) head += line + "\r\n";
    head += "Connection: close\r\n\r\n";
    bool ok = SendAll(c, head.data(), head.size());
    const size_t piece = r.ChunkSize ? r.ChunkSize : std::max<size_t>(r.Body.size(), 1);
    for (size_t at = 0; ok && at < r.Body.size(); at += piece) {
      if (at > 0 && r.ChunkDelay.count() > 0) {
        std::unique_lock<std::mutex> l(mu);
        if (cv.wait_for(l, r.ChunkDelay, [&] { return stopping; })) ok = false;
      }
      if (ok) ok = SendAll(c, r.Body.data() + at, std::min(piece, r.Body.size() - at));
    }
    if (!ok) {
      std::lock_guard<std::mutex> l(mu);
      ++aborted;
    }
  }
};

LocalHttpServer::LocalHttpServer() : state_(std::make_unique<State>()) {
  state_->listener = Listen(state_->port);
  if (state_->listener != INVALID_SOCKET) state_->acceptor = std::thread([s = state_.get()] { s->Accept(); });
}

LocalHttpServer::~LocalHttpServer() {
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> l(state_->mu);
    state_->stopping = true;
    state_->cv.notify_all();
    if (state_->listener != INVALID_SOCKET) closesocket(state_->listener);
    // Wake connection threads blocked in recv or send.
    for (SOCKET c : state_->open) shutdown(c, SD_BOTH);
  }
  if (state_->acceptor.joinable()) state_->acceptor.join();
  {
    std::lock_guard<std::mutex> l(state_->mu);
    connections.swap(state_->connections);
  }
  for (auto& t : connections) t.join();
}

uint16_t LocalHttpServer::Port() const { return state_->port; }

std::string LocalHttpServer::Url(const std::string& pathAndQuery) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + pathAndQuery;
}

void LocalHttpServer::SetResponse(HttpResponse response) {
  SetHandler([response](const HttpRequestRecord&) { return response; });
}

void LocalHttpServer::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> l(state_->mu);
  state_->handler = std::move(handler);
}

std::vector<HttpRequestRecord> LocalHttpServer::Requests() const {
  std::lock_guard<std::mutex> l(state_->mu);
  return state_->requests;
}

bool LocalHttpServer::WaitForRequests(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> l(state_->mu);
  return state_->cv.wait_for(l, limit, [&] { return state_->requests.size() >= count; });
}

size_t LocalHttpServer::AbortedResponses() const {
  std::lock_guard<std::mutex> l(state_->mu);
  return state_->aborted;
}

uint16_t LocalHttpServer::UnusedPort() {
  State::WinsockUser winsock;
  uint16_t port = 0;
  SOCKET s = Listen(port);
  if (s != INVALID_SOCKET) closesocket(s);
  return port;
}

}  // namespace zelt::test
