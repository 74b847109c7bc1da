// HTTPDownload over the scripted network: what a URL becomes, what a reply
// becomes in events (and on which thread) with the body limit, the whole-body
// rule and the deadline, the request as the network sees it, Stop or
// destruction at every step of a request, and a stopped request's hold on its
// transport.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/DownloadWorker.h"
#include "net/HTTPDownload.h"
#include "tests/support/Fakes.h"

namespace zelt {
namespace {

using fake::Reply;
using fake::Step;

enum Bind : unsigned { kError = 1, kSize = 2, kProgress = 4, kDownloaded = 8, kHeaders = 16, kAll = 15 };
const std::string kUrl = "http://example.org/inf.php?c=10";

class NetRequest : public ::testing::Test {
 protected:
  // A new component with the handlers of `bind`, and a new event log.
  void New(unsigned bind = kAll) {
    d = std::make_unique<HTTPDownload>(http, gui);
    events.clear();
    auto add = [this](std::string e) {
      std::lock_guard<std::mutex> l(m);
      events.push_back(e + (gui.IsGuiThread() ? " @gui" : " @req"));
    };
    if (bind & kError) d->OnError = [add](HTTPDownload&, uint16_t code) { add("Error " + std::to_string(code)); };
    if (bind & kSize) d->OnSize = [add](HTTPDownload&, int32_t size) { add("Size " + std::to_string(size)); };
    if (bind & kProgress)
      d->OnProgress = [add](HTTPDownload&, int32_t done, int32_t total) {
        add("Progress " + std::to_string(done) + "/" + std::to_string(total));
      };
    if (bind & kDownloaded)
      d->OnDownloaded = [add](HTTPDownload&, TMemoryStream& data) {
        add("Downloaded '" + data.Bytes.substr(data.Position) + "'");
      };
    if (bind & kHeaders)
      d->OnHeaders = [add](HTTPDownload&, const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& line : lines) text += (text.empty() ? "" : "|") + line;
        add("Headers " + text);
      };
  }
  bool Start(const std::string& url = kUrl) {
    const bool ok = d->Start(url);
    if (ok) workers.push_back(d->Worker);
    return ok;
  }
  // Until the component is idle and the network part of every request is over
  // (no handle open), running what they send to the GUI meanwhile.
  bool WaitEnded() {
    return gui.RunUntil(
        [&] { return (!d || !d->Busy) && http.RequestCount() > 0 && !http.Held() && http.OpenHandles() == 0; });
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> l(m);
    return events;
  }
  void TearDown() override {
    http.Release();
    d.reset();
    // Stopped requests end on their own, and close every handle they opened.
    EXPECT_TRUE(gui.RunUntil([&] {
      return std::all_of(workers.begin(), workers.end(), [](auto& w) { return w.expired(); });
    })) << "a request thread did not end";
    EXPECT_EQ(http.OpenHandles(), 0);
  }

  fake::Transport http;
  fake::GuiQueue gui;
  std::mutex m;
  std::vector<std::string> events;
  std::vector<std::weak_ptr<DownloadWorker>> workers;
  std::unique_ptr<HTTPDownload> d;
};

struct UrlCase {
  const char *url, *base;                                     // the URL and the previous path
  const char *protocol, *user, *password, *host, *port, *path;  // its parts
  int startPort;                                              // the port of an accepted URL; -1: refused
};

const UrlCase kUrlCases[] = {
    {"http://example.org/inf.php?c=10&u=0.4", "/old", "http", "", "", "example.org", "", "/inf.php?c=10&u=0.4", 80},
    {"http://example.org", "", "http", "", "", "example.org", "", "", -1},
    {"http://example.org/a:b@c", "", "http", "", "", "example.org", "", "/a:b@c", 80},
    // Only "http" and "https", as written, are fetched.
    {"HTTP://example.org/x", "", "HTTP", "", "", "example.org", "", "/x", -1},
    {"ftp://example.org/x", "", "ftp", "", "", "example.org", "", "/x", -1},
    {"https://example.org/x", "", "https", "", "", "example.org", "", "/x", 443},
    {"example.org:81/x", "", "", "", "", "example.org", "81", "/x", 81},
    // User information: the first ":" splits it, it ends at the last "@".
    {"http://u:p:q@example.org/x", "", "http", "u", "p:q", "example.org", "", "/x", 80},
    {"http://a@b@example.org:81/x", "", "http", "a@b", "", "example.org", "81", "/x", 81},
    {"http://user@/x", "", "http", "user", "", "", "", "/x", -1},
    {"http://[::1]:8080/x", "", "http", "", "", "[::1]", "8080", "/x", 8080},
    // A path without a host, relative forms against the previous path: refused.
    {"/path/x?y", "/a/b/c.html", "http", "", "", "", "", "/path/x?y", -1},
    {"./d", "/a/b/c.html", "", "", "", "", "", "/a/b/d", -1},
    {"../../d", "/a/b/c.html", "", "", "", "", "", "/d", -1},
    {"", "/a/b", "", "", "", "", "", "", -1},
};

// ParseURL's split of a URL (with the previous path as the base of relative
// forms) and whether Start takes it and on which port.
TEST_F(NetRequest, SplitsUrlsAndStartTakesOnlyHttpWithHostAndPath) {
  http.SetDefault({.failAt = Step::Open});
  for (const UrlCase& c : kUrlCases) {
    SCOPED_TRACE(std::string("URL \"") + c.url + "\" base \"" + c.base + "\"");
    std::string protocol = "x", user = "x", password = "x", host = "x", port = "x", path = c.base;
    ParseURL(c.url, protocol, user, password, host, port, path);
    EXPECT_EQ((std::vector<std::string>{protocol, user, password, host, port, path}),
              (std::vector<std::string>{c.protocol, c.user, c.password, c.host, c.port, c.path}));

    New(kError);
    d->Target.Port = 1234;
    const size_t before = http.RequestCount();
    const bool taken = c.startPort >= 0;
    EXPECT_EQ(Start(c.url), taken);
    ASSERT_TRUE(!taken || WaitEnded());
    // A taken URL fails only as the network does; a refused one fails inside Start, leaves the port alone and
    // makes no network call.
    EXPECT_EQ(Events(), std::vector<std::string>{taken ? "Error 12029 @req" : "Error 12005 @gui"});
    EXPECT_FALSE(d->Busy);
    EXPECT_EQ(d->Target.Port, taken ? c.startPort : 1234);
    EXPECT_EQ(http.RequestCount(), before + (taken ? 1 : 0));
  }
}

// A body longer than MaxBodyBytes fails, and with WholeBodyOnly so does one
// that is not whole. Past its deadline a request ends once, as a timeout: a
// body that trickles (each read takes readMs on the transport's clock) or a
// call blocked in the network (the clock moves on while it waits); a body's
// size, announced or at most MaxBodyBytes, stretches the deadline at the given
// rate. A failed body leaves nothing behind in memory, no request a handle.
TEST_F(NetRequest, RepliesBecomeEventsOnTheirThreads) {
  const std::string k10(10000, 'x'), got10 = "Downloaded '" + k10 + "' @req", k1(1000, 'x'),
                    got1 = "Downloaded '" + k1 + "' @req", late = "Error 12002 @req";
  const Reply plain{.body = k10}, unannounced{.body = k10, .announce = false};
  const unsigned body = kError | kDownloaded;
  const TRequestLimits whole{.WholeBodyOnly = true}, minute{.DeadlineMs = 60000},
      tenBytesASecond{.DeadlineMs = 10000, .DeadlineBytesPerSecond = 10};
  const struct {
    const char* name;
    unsigned bind;
    Reply reply;
    std::vector<std::string> events;
    TRequestLimits limits = {};
  } cases[] = {
      {"a body with its length", kAll, {.body = "hello world", .chunk = 6},
       {"Size 11 @req", "Progress 6/11 @gui", "Progress 11/11 @gui", "Downloaded 'hello world' @req"}},
      {"no length", kAll, {.body = "abcde", .announce = false},
       {"Size -1 @req", "Progress 5/-1 @gui", "Downloaded 'abcde' @req"}},
      {"length 0", kSize | kDownloaded, {.body = "ab", .lengthText = "0"}, {"Size -1 @req", "Downloaded 'ab' @req"}},
      {"404", kAll, {.status = 404, .body = "nope!"}, {"Error 12003 @req"}},
      {"a read fails: the part received is delivered", kAll,
       {.body = "abcdefghi", .failAt = Step::Read, .error = 12002, .after = 6, .chunk = 3},
       {"Size 9 @req", "Progress 3/9 @gui", "Progress 6/9 @gui", "Downloaded 'abcdef' @req"}},
      {"headers", kAll | kHeaders, {.body = "hi"},
       {"Headers HTTP/1.1 200 X|Content-Length: 2 @req", "Size 2 @req", "Progress 2/2 @gui", "Downloaded 'hi' @req"}},
      {"open fails: the code's low 16 bits", kAll, {.failAt = Step::Open, .error = 0x12345}, {"Error 9029 @req"}},
      {"at the limit", body, plain, {got10}, {.MaxBodyBytes = 10000, .WholeBodyOnly = true}},
      {"announced over the limit", body, plain, {"Error 223 @req"}, {.MaxBodyBytes = 9999}},
      {"streamed over the limit", body, unannounced, {"Error 223 @req"}, {.MaxBodyBytes = 9999}},
      {"shorter than announced, whole wanted", body, {.body = k10, .lengthText = "12000"}, {"Error 12030 @req"}, whole},
      {"a trickle past the minute", body, {.body = k1, .chunk = 10, .readMs = 1000}, {late}, minute},
      {"1000 bytes at 10 B/s: 100 s", body, {.body = k1, .chunk = 100, .readMs = 8000}, {got1}, tenBytesASecond},
      {"slower than 10 B/s", body, {.body = k1, .chunk = 100, .readMs = 12000}, {late}, tenBytesASecond},
      {"unannounced, limit 1000", body, {.body = k1, .announce = false, .chunk = 100, .readMs = 8000}, {got1},
       {.MaxBodyBytes = 1000, .DeadlineMs = 10000, .DeadlineBytesPerSecond = 10}},
      {"blocked in the send", body, {.holdAt = Step::Send}, {late}, minute},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    New(c.bind);
    d->Options.Limits = c.limits;
    http.Reset();
    http.Push(c.reply);
    ASSERT_TRUE(Start());
    if (c.reply.holdAt != Step::None) {
      ASSERT_TRUE(http.WaitHeld());
      http.Advance(c.limits.DeadlineMs);
    }
    ASSERT_TRUE(WaitEnded()) << "every handle is closed, a blocked call's too";
    EXPECT_EQ(Events(), c.events);
    if (!c.events.empty() && c.events.back().starts_with("Error ")) {
      EXPECT_TRUE(!d->Data || d->Data->Size() == 0) << "a failed body leaves nothing behind";
      EXPECT_TRUE(!c.limits.DeadlineMs || http.Requests().at(0).bytes < k1.size()) << "no read after the deadline";
    }
  }
}

// Each request takes the options and header lines as they are when it
// starts; the credentials come from the URL alone.
TEST_F(NetRequest, TheRequestCarriesTheSettings) {
  const std::vector<std::string> extra = {"Accept-Encoding: deflate", "X-Test: 1"};
  const struct {
    std::string url;
    TRequestOptions options;
    const std::vector<std::string>* headers;
    std::string seen;
  } cases[] = {
      {kUrl, {.UserAgent = "a"}, nullptr, "a|1||example.org:80||/inf.php?c=10|80000300|Connection: close"},
      {"https://example.org/x", {.UserAgent = "b"}, nullptr, "b|1||example.org:443||/x|80a00300|Connection: close"},
      {"http://example.org:8081/x?y=1", {.UserAgent = "c", .ProxyServer = "proxy.local", .ProxyPort = 8080}, nullptr,
       "c|3|http=proxy.local:8080|example.org:8081||/x?y=1|80000300|Proxy-Connection: close"},
      {"https://example.org/x", {.ProxyServer = "proxy.local"}, nullptr,
       "Corvan HTTPClient/2.1|3|http=proxy.local:3128 https=proxy.local:3128|example.org:443||/x|80a00300|"
       "Proxy-Connection: close"},
      {kUrl, {.ProxyServer = "proxy.local", .UseSystemProxy = true}, nullptr,
       "Corvan HTTPClient/2.1|0||example.org:80||/inf.php?c=10|80000300|Proxy-Connection: close"},
      {"http://u:p:q@example.org:99/i", {}, &extra,
       "Corvan HTTPClient/2.1|1||example.org:99|u/p:q|/i|80000300|Accept-Encoding: deflate,X-Test: 1,Connection: close"},
  };
  New();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    d->Options = c.options;
    d->RequestHeaders = c.headers;
    http.Reset();
    ASSERT_TRUE(Start(c.url));
    d->Options = {.UserAgent = "changed after the start", .ProxyServer = "changed"};
    ASSERT_TRUE(WaitEnded());
    const fake::Request r = http.Requests().at(0);
    char flags[16];
    std::snprintf(flags, sizeof flags, "%x", r.flags);
    std::string seen = r.agent + "|" + std::to_string(r.access) + "|" + r.proxy + "|" + r.host + ":" +
                       std::to_string(r.port) + "|" + (r.user.empty() ? "" : r.user + "/" + r.password) + "|" + r.path +
                       "|" + flags + "|";
    for (const auto& h : r.headers) seen += (seen.back() == '|' ? "" : ",") + h;
    EXPECT_EQ(seen, c.seen);
  }
}

// Stop (or destruction) while the request is held at each of its steps, or
// (progress) while its progress call waits for the GUI thread, where Stop
// must not wait for it: no event follows, no later step is taken that was not
// already under way, the body received so far is dropped and every handle is
// closed.
TEST_F(NetRequest, StopAtEachStepEndsTheRequestSilently) {
  const struct {
    Step step;
    size_t after;
    bool destroy, progress = false;
  } cases[] = {{Step::OpenRequest, 0, true}, {Step::AddHeader, 0, false}, {Step::Length, 0, true},
               {Step::Read, 3, false}, {Step::Read, 3, false, true}};
  for (const auto& [step, after, destroy, progress] : cases) {
    SCOPED_TRACE("step " + std::to_string(static_cast<int>(step)) + " after " + std::to_string(after) +
                 (destroy ? ", destroyed" : ", stopped") + (progress ? " in a progress call" : ""));
    http.Reset();
    New(kAll | kHeaders);
    http.Push({.body = "abcdef", .holdAt = progress ? Step::None : step, .after = after, .chunk = 3});
    ASSERT_TRUE(Start());
    ASSERT_TRUE(progress ? gui.WaitForSend() : gui.RunUntil([&] { return http.Held(); }));
    ASSERT_EQ(d->Data->Size(), after);
    const size_t mark = Events().size();
    if (destroy) {
      d.reset();
    } else {
      d->Stop();
      EXPECT_FALSE(d->Busy);
      EXPECT_EQ(d->Data->Size(), 0u) << "what arrived before the stop is dropped";
    }
    http.Release();
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(Events().size(), mark) << "no event follows";
    const fake::Request r = http.Requests().at(0);
    EXPECT_EQ(r.sent, step >= Step::Send) << "a request stopped before its send is never sent";
    EXPECT_EQ(r.bytes, step >= Step::Length ? after + 3 : 0u) << "one read at most after the stop";
    if (d) {
      EXPECT_EQ(d->Data->Size(), 0u);
    }
  }
}

// A request left behind by Stop keeps its transport until its thread ends,
// though everyone else has let go of it (the program exits while a request
// hangs in the network).
TEST(NetLifetime, AStoppedRequestKeepsItsTransportUntilItEnds) {
  fake::GuiQueue gui;
  auto transport = std::make_shared<fake::Transport>();
  transport->Push(Reply{.holdAt = Step::Send});
  const std::weak_ptr<fake::Transport> weak = transport;
  fake::Transport* const raw = transport.get();
  {
    HTTPDownload d(transport, gui);
    d.OnDownloaded = [](HTTPDownload&, TMemoryStream&) {};
    ASSERT_TRUE(d.Start("http://host/path"));
    ASSERT_TRUE(gui.RunUntil([&] { return raw->Held(); }));
  }
  transport.reset();
  ASSERT_FALSE(weak.expired());
  raw->Release();
  EXPECT_TRUE(gui.RunUntil([&] { return weak.expired(); }));
}

}  // namespace
}  // namespace zelt
