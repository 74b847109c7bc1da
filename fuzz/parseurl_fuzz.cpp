// ParseURL. Input: the URL, then optionally a newline and the previous path
// (the base of "./" and "../" forms). Beyond not crashing: the parts of a URL
// with a scheme are pieces of it, in order (scheme, host, path at the end).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/HTTPDownload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelt;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  const std::string url = input.substr(0, nl);
  std::string protocol, user, password, host, port, path = nl == std::string::npos ? "/a/b/c.html" : input.substr(nl + 1);
  ParseURL(url, protocol, user, password, host, port, path);

  const size_t scheme = url.find("://");
  if (scheme == std::string::npos || url.starts_with("./") || url.starts_with("../")) return 0;
  const size_t hostAt = url.find(host, scheme + 3);
  if (protocol != url.substr(0, scheme) || hostAt == std::string::npos || !url.ends_with(path) ||
      hostAt + host.size() > url.size() - path.size())
    std::abort();
  return 0;
}
