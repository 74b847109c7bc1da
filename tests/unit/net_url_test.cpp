// ParseURL's split of a URL and what HTTPDownload::Start makes of it, over
// one table: a URL (with the previous path as the base of relative forms),
// the six parts, and whether Start takes it and on which port.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/DownloadWorker.h"
#include "net/HTTPDownload.h"
#include "tests/support/Fakes.h"

namespace zelt {
namespace {

struct UrlCase {
  const char* url;
  const char* base;
  const char *protocol, *user, *password, *host, *port;
  std::optional<std::string> path;  // nullopt: not relied on
  int startPort;                    // the port of an accepted URL; -1: refused
};

const UrlCase kCases[] = {
    {"http://example.org/inf.php?c=10&u=0.4", "/old", "http", "", "", "example.org", "", "/inf.php?c=10&u=0.4", 80},
    {"http://example.org", "", "http", "", "", "example.org", "", "", -1},
    {"http://example.org?q=/a/b", "", "http", "", "", "example.org", "", "?q=/a/b", 80},
    {"http://example.org/a:b@c", "", "http", "", "", "example.org", "", "/a:b@c", 80},
    // Only "http" and "https", as written, are fetched.
    {"HTTP://example.org/x", "", "HTTP", "", "", "example.org", "", "/x", -1},
    {"ftp://example.org/x", "", "ftp", "", "", "example.org", "", "/x", -1},
    {"https://example.org/x", "", "https", "", "", "example.org", "", "/x", 443},
    {"https://example.org:8443/x", "", "https", "", "", "example.org", "8443", "/x", 8443},
    {"HTTPS://example.org/x", "", "HTTPS", "", "", "example.org", "", "/x", -1},
    {"://example.org/x", "", "", "", "", "example.org", "", "/x", 80},
    {"example.org:81/x", "", "", "", "", "example.org", "81", "/x", 81},
    {"MAILTO:User@Example.org/x", "", "mailto", "User", "", "Example.org", "", "/x", -1},
    {"MailTo:a:b@host", "", "mailto", "a", "b", "host", "", "", -1},
    // User information: the first ":" splits it, it ends at the last "@".
    {"http://u:p:q@example.org/x", "", "http", "u", "p:q", "example.org", "", "/x", 80},
    {"http://a@b@example.org:81/x", "", "http", "a@b", "", "example.org", "81", "/x", 81},
    {"http://a:b@c:d@example.org/x", "", "http", "a", "b@c:d", "example.org", "", "/x", 80},
    {"http://user@/x", "", "http", "user", "", "", "", "/x", -1},
    // Ports: empty, no digits, signs, kept in 16 bits.
    {"http://example.org:/x", "", "http", "", "", "example.org", "", "/x", 80},
    {"http://example.org:abc/x", "", "http", "", "", "example.org", "abc", "/x", 0},
    {"http://example.org:-1/x", "", "http", "", "", "example.org", "-1", "/x", 65535},
    {"http://example.org:65616/x", "", "http", "", "", "example.org", "65616", "/x", 80},
    {"http://example.org:123456789012/x", "", "http", "", "", "example.org", "123456789012", "/x", 6676},
    {"http://example.org:8080abc/x", "", "http", "", "", "example.org", "8080abc", "/x", 8080},
    {"http://[::1]:8080/x", "", "http", "", "", "[::1]", "8080", "/x", 8080},
    // Paths without a host, relative forms against the previous path: refused.
    {"/path/x?y", "/a/b/c.html", "http", "", "", "", "", "/path/x?y", -1},
    {"./d", "/a/b/c.html", "", "", "", "", "", "/a/b/d", -1},
    {"../../d", "/a/b/c.html", "", "", "", "", "", "/d", -1},
    {"../../../../../d", "/a/b/c.html", "", "", "", "", "", "/d", -1},
    {"../x?y=../z", "/a/b/", "", "", "", "", "", "/a/x?y=../z", -1},
    {"./d", "?q=/x/y", "", "", "", "", "", "?q=/x/d", -1},
    {"//example.org/x", "", "http", "", "", "", "", std::nullopt, -1},
    {"http:example.org/x", "", "http", "", "", "", "", std::nullopt, -1},
    {"", "/a/b", "", "", "", "", "", "", -1},
};

TEST(NetUrl, SplitsUrlsAndStartTakesOnlyHttpWithHostAndPath) {
  fake::Transport transport;
  transport.SetDefault({.failAt = fake::Step::Open});
  fake::GuiQueue gui;
  std::vector<std::weak_ptr<DownloadWorker>> workers;
  for (const UrlCase& c : kCases) {
    SCOPED_TRACE(std::string("URL \"") + c.url + "\" base \"" + c.base + "\"");
    std::string protocol = "x", user = "x", password = "x", host = "x", port = "x", path = c.base;
    ParseURL(c.url, protocol, user, password, host, port, path);
    EXPECT_EQ(protocol, c.protocol);
    EXPECT_EQ(user, c.user);
    EXPECT_EQ(password, c.password);
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(port, c.port);
    if (c.path) {
      EXPECT_EQ(path, *c.path);
    }

    // Errors on this thread can only come from inside Start.
    auto d = std::make_unique<HTTPDownload>(transport, gui);
    d->Port = 1234;
    std::vector<uint16_t> inStart;
    const auto caller = std::this_thread::get_id();
    d->OnError = [&](HTTPDownload&, uint16_t code) {
      if (std::this_thread::get_id() == caller) inStart.push_back(code);
    };
    const size_t before = transport.RequestCount();
    EXPECT_EQ(d->Start(c.url), c.startPort >= 0);
    if (c.startPort >= 0) {
      EXPECT_EQ(d->Port, c.startPort);
      EXPECT_TRUE(inStart.empty());
      workers.push_back(d->Worker);
    } else {
      EXPECT_EQ(inStart, std::vector<uint16_t>{12005});
      EXPECT_FALSE(d->Busy);
      EXPECT_EQ(d->Port, 1234) << "a refused URL leaves the port alone";
      EXPECT_EQ(transport.RequestCount(), before) << "and makes no network call";
    }
  }
  for (auto& w : workers) EXPECT_TRUE(gui.RunUntil([&] { return w.expired(); })) << "a request did not end";
}

}  // namespace
}  // namespace zelt
