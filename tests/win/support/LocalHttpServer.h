// A small HTTP/1.1 server on the loopback interface for in-process Windows
// tests: it listens on 127.0.0.1 at a free port, serves each connection on a
// thread of its own, records every request's request line and headers, and
// answers with a scripted response (status, body, with or without
// Content-Length, the body trickled in pieces). One request per connection;
// every response closes its connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zelt::test {

// A request as the server received it.
struct HttpRequestRecord {
  std::string RequestLine;  // e.g. "GET /inf.php?c=10 HTTP/1.1"
  std::string Method;
  std::string Target;       // path and query, or an absolute URI when sent to a proxy
  std::string Version;
  std::vector<std::pair<std::string, std::string>> Headers;  // in order, as sent

  // The values of a header, in order (names compared without regard to case).
  std::vector<std::string> HeaderValues(const std::string& name) const;
  // The first value of a header, or "" when it is absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const { return !HeaderValues(name).empty(); }
};

// What the server answers.
struct HttpResponse {
  int Status = 200;
  std::string Reason = "OK";
  std::string Body;
  bool SendContentLength = true;     // without it the body ends with the connection
  std::vector<std::string> Headers;  // extra header lines, without line ends
  size_t ChunkSize = 0;              // write the body in pieces of this size (0: at once)
  std::chrono::milliseconds ChunkDelay{0};  // pause between pieces (the head and first piece go at once)
};

class LocalHttpServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequestRecord&)>;

  LocalHttpServer();   // listens at once; Port() tells where
  ~LocalHttpServer();  // stops: closes every connection and joins every thread
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  uint16_t Port() const;
  // "http://127.0.0.1:<port>" followed by pathAndQuery.
  std::string Url(const std::string& pathAndQuery) const;

  // Every request gets this response (the default: 200 with an empty body).
  void SetResponse(HttpResponse response);
  // Or the handler decides; it runs on the connection's thread.
  void SetHandler(Handler handler);

  // The requests received so far, in arrival order.
  std::vector<HttpRequestRecord> Requests() const;
  // Waits until at least `count` requests have arrived; false after `limit`.
  bool WaitForRequests(size_t count, std::chrono::milliseconds limit) const;
  // Responses whose body could not be written to the end (the client left).
  size_t AbortedResponses() const;

  // A loopback port on which nothing listens (a port just freed).
  static uint16_t UnusedPort();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zelt::test
