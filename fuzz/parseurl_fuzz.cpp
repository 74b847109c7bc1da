// ParseURL. Input: the URL, then optionally a newline and the
// previous path (the base of "./" and "../" forms).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/HTTPDownload.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelt;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  const std::string url = input.substr(0, nl);
  const std::string base = nl == std::string::npos ? std::string("/a/b/c.html") : input.substr(nl + 1);

  std::string protocol, user, password, host, port, path = base;
  ParseURL(url, protocol, user, password, host, port, path);

  if (url.empty()) {
    Check(protocol.empty() && host.empty() && path.empty());
    return 0;
  }
  if (url.starts_with("./") || url.starts_with("../")) {
    // Relative: only a path, which ends with the URL's own last segment.
    Check(protocol.empty() && host.empty() && !path.empty());
    Check(path[0] == '/' || base.find('/') != std::string::npos);
    return 0;
  }
  const size_t scheme = url.find("://");
  if (scheme != std::string::npos) {
    // The authority: the host never holds "@" (it follows the last one), the
    // port never ":" (it follows the last one), and the path starts with "/"
    // or "?" when there is one.
    Check(protocol == url.substr(0, scheme));
    Check(host.find_first_of("@/?") == std::string::npos);
    Check(port.find_first_of(":/?") == std::string::npos);
    Check(path.empty() || path[0] == '/' || path[0] == '?');
    Check(user.find_first_of("/?:") == std::string::npos);
    Check(url.size() >= protocol.size() + 3 + host.size() + path.size());
    Check(url.compare(url.size() - path.size(), path.size(), path) == 0);
  }
  return 0;
}
