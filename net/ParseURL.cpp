// URL splitting for HTTPDownload: protocol, user information, host, port text
// and path, with "./" and "../" forms resolved against the previous path.
#include <cstddef>
#include <string>

#include "net/HTTPDownload.h"

namespace zelt {

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The text up to and including its last "/", or "/" when it has none.
std::string Dir(const std::string& x) {
  const size_t slash = x.rfind('/');
  return slash == std::string::npos ? std::string("/") : x.substr(0, slash + 1);
}

// One directory up: drop the trailing "/" and cut after the previous one.
// Climbing above the root stays at "/".
std::string Climb(std::string d) {
  if (!d.empty()) d.pop_back();
  return Dir(d);
}

std::string AsciiLower(std::string s) {
  for (char& ch : s)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return s;
}

}  // namespace

int LastPos(const std::string& sub, const std::string& s) {
  if (sub.empty() || sub.size() > s.size()) return 0;
  const size_t at = s.rfind(sub);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

void ParseURL(const std::string& urlIn, std::string& protocol, std::string& userName, std::string& password,
              std::string& hostName, std::string& port, std::string& path) {
  // Copies first: the caller may pass one of its output fields as the URL.
  const std::string url = urlIn;
  const std::string base = path;
  protocol.clear();
  userName.clear();
  password.clear();
  hostName.clear();
  port.clear();
  path.clear();
  if (url.empty()) return;

  if (StartsWith(url, "./")) {
    path = Dir(base) + url.substr(2);
    return;
  }
  if (StartsWith(url, "../")) {
    std::string d = Climb(Dir(base));
    std::string rest = url.substr(3);
    while (StartsWith(rest, "../")) {
      rest.erase(0, 3);
      d = Climb(d);
    }
    path = d + rest;
    return;
  }

  size_t start = 0;  // 0-based start of the address part
  const size_t scheme = url.find("://");
  if (scheme != std::string::npos) {
    protocol = url.substr(0, scheme);
    start = scheme + 3;
  } else if (url[0] == '/') {
    // "/x" is a path on the default server; "/" alone and "//..." carry no
    // host we could trust, so they keep an empty host name and are refused.
    protocol = "http";
    path = url;
    return;
  } else if (AsciiLower(url.substr(0, 7)) == "mailto:") {
    protocol = "mailto";
    start = url.find(':') + 1;
  } else if (AsciiLower(url.substr(0, 5)) == "http:") {
    // "http:" without "//": no authority at all.
    protocol = "http";
    path = url.substr(5);
    return;
  }

  const std::string address = url.substr(start);
  const size_t end = address.find_first_of("/?");
  std::string authority = address;
  if (end != std::string::npos) {
    path = address.substr(end);
    authority = address.substr(0, end);
  }

  const int c = LastPos(":", authority);  // 1-based, 0 when absent
  const int a = LastPos("@", authority);
  std::string userInfo;
  bool hasUserInfo = false;
  if (c == 0 && a == 0) {
    hostName = authority;
  } else if (c > a) {
    port = authority.substr(static_cast<size_t>(c));
    hostName = authority.substr(static_cast<size_t>(a), static_cast<size_t>(c - 1 - a));
    if (a > 0) {
      userInfo = authority.substr(0, static_cast<size_t>(a - 1));
      hasUserInfo = true;
    }
  } else {
    hostName = authority.substr(static_cast<size_t>(a));
    userInfo = authority.substr(0, static_cast<size_t>(a - 1));
    hasUserInfo = true;
  }

  if (hasUserInfo) {
    const size_t colon = userInfo.find(':');
    if (colon == std::string::npos) {
      userName = userInfo;
    } else {
      userName = userInfo.substr(0, colon);
      password = userInfo.substr(colon + 1);
    }
  }
}

}  // namespace zelt
