// The HTTP transport over WinInet: each call is the WinInet call of the same
// shape, ANSI strings as given. Stateless, so one object serves every request
// of the program and outlives them all.
#pragma once

#include "net/HttpTransport.h"

namespace zelt {

class WinInetTransport final : public IHttpTransport {
 public:
  // Connect, send and receive give up after this long, so that a request left
  // behind by Stop ends on its own even when the peer stays silent.
  static constexpr uint32_t kTimeoutMs = 30000;

  HttpHandle Open(const std::string& agent, uint32_t accessType, const std::string* proxy) override;
  HttpHandle Connect(HttpHandle inet, const std::string& host, uint16_t port, const std::string& user,
                     const std::string& password) override;
  HttpHandle OpenRequest(HttpHandle conn, const std::string& path, uint32_t flags) override;
  bool AddRequestHeaders(HttpHandle req, const std::string& line, uint32_t flags) override;
  bool SendRequest(HttpHandle req) override;
  bool QueryInfo(HttpHandle req, uint32_t level, char* buffer, uint32_t* length) override;
  bool ReadFile(HttpHandle req, char* buffer, uint32_t size, uint32_t* read) override;
  void CloseHandle(HttpHandle h) override;
  uint32_t LastError() override;
  uint64_t NowMs() override;
};

}  // namespace zelt
