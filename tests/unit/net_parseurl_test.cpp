// ParseURL's split of a URL, and which URLs HTTPDownload::Start accepts, over
// one table: each row is a URL (with the previous path as base), the six parts
// ParseURL gives, and what Start makes of it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/HTTPDownload.h"

namespace zelt {
namespace {

// A transport that refuses to open, so an accepted URL ends at once with the
// transport's error and nothing else happens; it counts the attempts.
class RefusingTransport : public IHttpTransport {
 public:
  HttpHandle Open(const std::string&, uint32_t, const std::string*) override {
    std::lock_guard<std::mutex> l(mu_);
    ++opens_;
    return nullptr;
  }
  HttpHandle Connect(HttpHandle, const std::string&, uint16_t, const std::string&, const std::string&) override {
    return nullptr;
  }
  HttpHandle OpenRequest(HttpHandle, const std::string&, uint32_t) override { return nullptr; }
  bool AddRequestHeaders(HttpHandle, const std::string&, uint32_t) override { return false; }
  bool SendRequest(HttpHandle) override { return false; }
  bool QueryInfo(HttpHandle, uint32_t, char*, uint32_t*) override { return false; }
  bool ReadFile(HttpHandle, char*, uint32_t, uint32_t*) override { return false; }
  void CloseHandle(HttpHandle) override {}
  uint32_t LastError() override { return 12029; }
  int Opens() {
    std::lock_guard<std::mutex> l(mu_);
    return opens_;
  }

 private:
  std::mutex mu_;
  int opens_ = 0;
};

// No progress is ever sent here: the requests never get to a body.
class NoGui : public IGuiQueue {
 public:
  void Post(std::function<void()>) override { ADD_FAILURE() << "unexpected Post"; }
  bool Send(std::function<void()>) override {
    ADD_FAILURE() << "unexpected Send";
    return false;
  }
  bool IsGuiThread() const override { return false; }
};

struct UrlCase {
  const char* url;
  const char* base;  // Path before the call
  const char* protocol;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  std::optional<std::string> path;  // nullopt: not relied on
  bool accepted;                    // Start returns true
  uint16_t portValue;               // Port after an accepted Start
};

const UrlCase kCases[] = {
    // Scheme, host, path and query.
    {"http://example.org/inf.php?c=10&u=0.4", "", "http", "", "", "example.org", "", "/inf.php?c=10&u=0.4", true, 80},
    {"http://example.org/x", "/old/path", "http", "", "", "example.org", "", "/x", true, 80},
    {"http://example.org", "", "http", "", "", "example.org", "", "", false, 0},
    {"http://example.org/", "", "http", "", "", "example.org", "", "/", true, 80},
    {"http://example.org?q=1", "", "http", "", "", "example.org", "", "?q=1", true, 80},
    {"http://example.org?q=/a/b", "", "http", "", "", "example.org", "", "?q=/a/b", true, 80},
    {"http://example.org/a:b@c", "", "http", "", "", "example.org", "", "/a:b@c", true, 80},
    // Scheme spelling: taken as written; only "http" and "https" are fetched.
    {"HTTP://example.org/x", "", "HTTP", "", "", "example.org", "", "/x", false, 0},
    {"Http://example.org/x", "", "Http", "", "", "example.org", "", "/x", false, 0},
    {"ftp://example.org/x", "", "ftp", "", "", "example.org", "", "/x", false, 0},
    {"https://example.org/x", "", "https", "", "", "example.org", "", "/x", true, 443},
    {"HTTPS://example.org/x", "", "HTTPS", "", "", "example.org", "", "/x", false, 0},
    {"://example.org/x", "", "", "", "", "example.org", "", "/x", true, 80},
    // No scheme: a bare host and its path.
    {"example.org/x/y", "", "", "", "", "example.org", "", "/x/y", true, 80},
    {"example.org:81/x", "", "", "", "", "example.org", "81", "/x", true, 81},
    {"example.org", "", "", "", "", "example.org", "", "", false, 0},
    {"example.org?q", "", "", "", "", "example.org", "", "?q", true, 80},
    // mailto: in any case.
    {"mailto:user@example.org", "", "mailto", "user", "", "example.org", "", "", false, 0},
    {"MAILTO:User@Example.org/x", "", "mailto", "User", "", "Example.org", "", "/x", false, 0},
    {"MailTo:a:b@host", "", "mailto", "a", "b", "host", "", "", false, 0},
    // User information: the first ":" splits it, it ends at the last "@".
    {"http://user@example.org/x", "", "http", "user", "", "example.org", "", "/x", true, 80},
    {"http://user:pw@example.org/x", "", "http", "user", "pw", "example.org", "", "/x", true, 80},
    {"http://u:p:q@example.org/x", "", "http", "u", "p:q", "example.org", "", "/x", true, 80},
    {"http://a@b@example.org:81/x", "", "http", "a@b", "", "example.org", "81", "/x", true, 81},
    {"http://a:b@c:d@example.org/x", "", "http", "a", "b@c:d", "example.org", "", "/x", true, 80},
    {"http://a:b@c@example.org:8080/x", "", "http", "a", "b@c", "example.org", "8080", "/x", true, 8080},
    {"http://@example.org/x", "", "http", "", "", "example.org", "", "/x", true, 80},
    {"http://user:@example.org/x", "", "http", "user", "", "example.org", "", "/x", true, 80},
    {"http://user:pw@example.org", "", "http", "user", "pw", "example.org", "", "", false, 0},
    {"http://user@/x", "", "http", "user", "", "", "", "/x", false, 0},
    // Ports: empty, no digits, signs, 16 bits.
    {"http://example.org:8080/x", "", "http", "", "", "example.org", "8080", "/x", true, 8080},
    {"http://example.org:/x", "", "http", "", "", "example.org", "", "/x", true, 80},
    {"http://example.org:abc/x", "", "http", "", "", "example.org", "abc", "/x", true, 0},
    {"http://example.org:+80/x", "", "http", "", "", "example.org", "+80", "/x", true, 80},
    {"http://example.org:-1/x", "", "http", "", "", "example.org", "-1", "/x", true, 65535},
    {"http://example.org:70000/x", "", "http", "", "", "example.org", "70000", "/x", true, 4464},
    {"http://example.org:65616/x", "", "http", "", "", "example.org", "65616", "/x", true, 80},
    {"http://example.org:65536/x", "", "http", "", "", "example.org", "65536", "/x", true, 0},
    {"http://example.org:123456789012/x", "", "http", "", "", "example.org", "123456789012", "/x", true, 6676},
    {"http://example.org:8080abc/x", "", "http", "", "", "example.org", "8080abc", "/x", true, 8080},
    {"http://example.org:+/x", "", "http", "", "", "example.org", "+", "/x", true, 0},
    {"http://example.org:8080?q", "", "http", "", "", "example.org", "8080", "?q", true, 8080},
    {"http://example.org:80", "", "http", "", "", "example.org", "80", "", false, 0},
    {"http://[::1]:8080/x", "", "http", "", "", "[::1]", "8080", "/x", true, 8080},
    {"http://user:pw@example.org:99/x", "", "http", "user", "pw", "example.org", "99", "/x", true, 99},
    // A path on its own: no host, so refused.
    {"/path/x?y", "/a/b/c.html", "http", "", "", "", "", "/path/x?y", false, 0},
    // Relative forms against the previous path; never a host, so refused.
    {"./d", "/a/b/c.html", "", "", "", "", "", "/a/b/d", false, 0},
    {"../d", "/a/b/c.html", "", "", "", "", "", "/a/d", false, 0},
    {"../../d", "/a/b/c.html", "", "", "", "", "", "/d", false, 0},
    {"../../../d", "/a/b/c.html", "", "", "", "", "", "/d", false, 0},
    {"../../../../../d", "/a/b/c.html", "", "", "", "", "", "/d", false, 0},
    {"../x?y=../z", "/a/b/", "", "", "", "", "", "/a/x?y=../z", false, 0},
    {"./", "/a/b/c.html", "", "", "", "", "", "/a/b/", false, 0},
    {"./d", "", "", "", "", "", "", "/d", false, 0},
    {"../d", "c.html", "", "", "", "", "", "/d", false, 0},
    {"./d", "?q=/x/y", "", "", "", "", "", "?q=/x/d", false, 0},
    // Forms that name no host: refused whatever path they give.
    {"//example.org/x", "", "http", "", "", "", "", std::nullopt, false, 0},
    {"/", "", "http", "", "", "", "", std::nullopt, false, 0},
    {"http:example.org/x", "", "http", "", "", "", "", std::nullopt, false, 0},
    {"HTTP:/x", "", "http", "", "", "", "", std::nullopt, false, 0},
    {"http:", "", "http", "", "", "", "", std::nullopt, false, 0},
    // Nothing at all.
    {"", "/a/b", "", "", "", "", "", "", false, 0},
};

TEST(NetParseUrl, SplitsUrlsAndStartAcceptsOnlyHttpWithHostAndPath) {
  RefusingTransport transport;
  NoGui gui;
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

    // Start: the same split lands in the component's fields, whatever the verdict.
    const int opensBefore = transport.Opens();
    auto d = std::make_unique<HTTPDownload>(transport, gui);
    d->Path = c.base;
    d->Port = 1234;
    d->UserName = d->Password = d->HostName = "stale";
    // Errors raised on this thread can only come from inside Start; an
    // accepted URL's request fails later, on its own thread.
    std::vector<uint16_t> errorsDuringStart;
    const std::thread::id caller = std::this_thread::get_id();
    d->OnError = [&](HTTPDownload&, uint16_t code) {
      if (std::this_thread::get_id() == caller) errorsDuringStart.push_back(code);
    };
    const bool started = d->Start(c.url);
    EXPECT_EQ(started, c.accepted);
    EXPECT_EQ(d->URL, c.url);
    EXPECT_EQ(d->HostName, c.host);
    EXPECT_EQ(d->UserName, c.user);
    EXPECT_EQ(d->Password, c.password);
    if (c.path) {
      EXPECT_EQ(d->Path, *c.path);
    }
    if (c.accepted) {
      EXPECT_EQ(d->Port, c.portValue);
      EXPECT_TRUE(errorsDuringStart.empty());
      workers.push_back(d->Worker);
    } else {
      EXPECT_EQ(errorsDuringStart, std::vector<uint16_t>{12005});
      EXPECT_FALSE(d->Busy);
      EXPECT_EQ(d->Port, 1234) << "a refused URL leaves the port alone";
      EXPECT_EQ(d->Worker, nullptr);
      EXPECT_EQ(transport.Opens(), opensBefore) << "a refused URL makes no network call";
    }
    d.reset();
  }
  // Every accepted request reached the transport; wait until they are all over
  // before the transport goes.
  for (auto& w : workers) {
    for (int i = 0; i < 5000 && !w.expired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(w.expired()) << "a request thread did not end";
  }
}

TEST(NetParseUrl, LastPosFindsTheLastOccurrence) {
  struct {
    const char* sub;
    const char* s;
    int pos;
  } const cases[] = {
      {":", "a:b:c", 4}, {"@", "a@b", 2},  {"@", "abc", 0},    {"ab", "abab", 3}, {"aa", "aaa", 2},
      {":", ":", 1},     {"abc", "ab", 0}, {"", "abc", 0},     {"x", "", 0},      {"/", "/a/b/", 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LastPos(c.sub, c.s), c.pos) << "\"" << c.sub << "\" in \"" << c.s << "\"";
  }
}

}  // namespace
}  // namespace zelt
