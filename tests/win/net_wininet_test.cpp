// HTTPDownload over the real WinInet transport against the loopback server,
// with the application object as the GUI queue: what the server receives, what
// the component reports, and a stopped trickling download.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/DownloadWorker.h"
#include "net/HTTPDownload.h"
#include "net/WinInetTransport_win.h"
#include "tests/win/support/LocalHttpServer.h"
#include "widgets/Application.h"

namespace zelt {
namespace {

using namespace std::chrono_literals;
using test::HttpResponse;
using test::LocalHttpServer;

// WinInet, remembering every last error it reported to the request.
class RecordingTransport : public IHttpTransport {
 public:
  HttpHandle Open(const std::string& agent, uint32_t type, const std::string* proxy) override {
    return inner_.Open(agent, type, proxy);
  }
  HttpHandle Connect(HttpHandle inet, const std::string& host, uint16_t port, const std::string& user,
                     const std::string& password) override {
    return inner_.Connect(inet, host, port, user, password);
  }
  HttpHandle OpenRequest(HttpHandle conn, const std::string& path, uint32_t flags) override {
    return inner_.OpenRequest(conn, path, flags);
  }
  bool AddRequestHeaders(HttpHandle req, const std::string& line, uint32_t flags) override {
    return inner_.AddRequestHeaders(req, line, flags);
  }
  bool SendRequest(HttpHandle req) override { return inner_.SendRequest(req); }
  bool QueryInfo(HttpHandle req, uint32_t level, char* buffer, uint32_t* length) override {
    return inner_.QueryInfo(req, level, buffer, length);
  }
  bool ReadFile(HttpHandle req, char* buffer, uint32_t size, uint32_t* read) override {
    return inner_.ReadFile(req, buffer, size, read);
  }
  void CloseHandle(HttpHandle h) override { inner_.CloseHandle(h); }
  uint32_t LastError() override {
    const uint32_t e = inner_.LastError();
    std::lock_guard<std::mutex> l(mu_);
    errors_.push_back(e);
    return e;
  }
  std::vector<uint32_t> Errors() {
    std::lock_guard<std::mutex> l(mu_);
    return errors_;
  }

 private:
  WinInetTransport inner_;
  std::mutex mu_;
  std::vector<uint32_t> errors_;
};

class NetWinInet : public ::testing::Test {
 protected:
  void SetUp() override {
    d->OnError = [this](HTTPDownload&, uint16_t code) { Add("Error " + std::to_string(code) + Where()); };
    d->OnSize = [this](HTTPDownload&, int32_t size) { Add("Size " + std::to_string(size) + Where()); };
    d->OnProgress = [this](HTTPDownload&, int32_t done, int32_t total) {
      std::lock_guard<std::mutex> l(mu_);
      ++progressCalls_;
      if (!app.IsGuiThread()) ++progressOffGui_;
      if (total != lastTotal_ && progressCalls_ > 1) ++totalChanges_;
      lastDone_ = done;
      lastTotal_ = total;
      events_.push_back("Progress");
    };
    d->OnDownloaded = [this](HTTPDownload&, TMemoryStream& data) {
      std::lock_guard<std::mutex> l(mu_);
      body_ = data.Bytes.substr(data.Position);
      events_.push_back("Downloaded " + std::to_string(body_.size()) + Where());
    };
  }
  void TearDown() override {
    d.reset();
    EXPECT_TRUE(Pump([&] {
      for (auto& w : workers_)
        if (!w.expired()) return false;
      return true;
    })) << "a request thread did not end";
  }

  std::string Where() const { return app.IsGuiThread() ? " @gui" : " @req"; }
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> l(mu_);
    events_.push_back(e);
  }
  // The events other than progress, in order.
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> l(mu_);
    std::vector<std::string> out;
    for (const auto& e : events_)
      if (e != "Progress") out.push_back(e);
    return out;
  }
  std::vector<std::string> AllEvents() {
    std::lock_guard<std::mutex> l(mu_);
    return events_;
  }

  bool Start(const std::string& url) {
    const bool ok = d->Start(url);
    if (ok) workers_.push_back(d->Worker);
    return ok;
  }
  // Services the GUI thread's messages (the progress calls among them) until
  // done() holds; false after the limit.
  bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 40s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      app.ProcessMessages();
    }
    return true;
  }
  bool WaitIdle() {
    return Pump([&] { return !d->Busy; });
  }

  TApplication app{"net test"};
  RecordingTransport transport;
  LocalHttpServer server;
  std::mutex mu_;
  std::vector<std::string> events_;
  std::string body_;
  int progressCalls_ = 0, progressOffGui_ = 0, totalChanges_ = 0;
  int32_t lastDone_ = 0, lastTotal_ = 0;
  std::vector<std::weak_ptr<DownloadWorker>> workers_;
  std::unique_ptr<HTTPDownload> d = std::make_unique<HTTPDownload>(transport, app);
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

TEST_F(NetWinInet, DirectGetSendsPathQueryAgentAndConnectionClose) {
  const std::string body = Pattern(10000);
  HttpResponse r;
  r.Body = body;
  r.ChunkSize = 3000;  // several reads
  server.SetResponse(r);
  d->UserAgent = "ZeltTest/1.0 (net; test)";
  ASSERT_TRUE(Start(server.Url("/inf.php?c=10&u=0.4&p=0")));
  ASSERT_TRUE(WaitIdle());

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].RequestLine, "GET /inf.php?c=10&u=0.4&p=0 HTTP/1.1");
  EXPECT_EQ(requests[0].Header("User-Agent"), "ZeltTest/1.0 (net; test)");
  EXPECT_EQ(requests[0].Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_EQ(requests[0].HeaderValues("Connection"), std::vector<std::string>{"close"});
  EXPECT_FALSE(requests[0].HasHeader("Proxy-Connection"));

  EXPECT_EQ(Events(), (std::vector<std::string>{"Size 10000 @req", "Downloaded 10000 @req"}));
  std::lock_guard<std::mutex> l(mu_);
  EXPECT_EQ(body_, body);
  EXPECT_GE(progressCalls_, 3);
  EXPECT_EQ(progressOffGui_, 0) << "OnProgress runs on the GUI thread";
  EXPECT_EQ(lastDone_, 10000);
  EXPECT_EQ(lastTotal_, 10000);
  EXPECT_EQ(totalChanges_, 0);
}

TEST_F(NetWinInet, ProxiedRequestCarriesTheAbsoluteUriAndProxyConnectionClose) {
  HttpResponse r;
  r.Body = "via proxy";
  server.SetResponse(r);
  d->ProxyServer = "127.0.0.1";
  d->ProxyPort = server.Port();
  ASSERT_TRUE(Start("http://zelt.invalid:8123/inf.php?c=10&u=0.4"));
  ASSERT_TRUE(WaitIdle());

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].RequestLine, "GET http://zelt.invalid:8123/inf.php?c=10&u=0.4 HTTP/1.1");
  EXPECT_EQ(requests[0].HeaderValues("Proxy-Connection"), std::vector<std::string>{"close"});
  EXPECT_EQ(requests[0].Header("User-Agent"), "Corvan HTTPClient/2.1");
  EXPECT_EQ(Events(), (std::vector<std::string>{"Size 9 @req", "Downloaded 9 @req"}));
  std::lock_guard<std::mutex> l(mu_);
  EXPECT_EQ(body_, "via proxy");
}

TEST_F(NetWinInet, NotFoundRaises12003AndNothingElse) {
  HttpResponse r;
  r.Status = 404;
  r.Reason = "Not Found";
  r.Body = "no such page";
  server.SetResponse(r);
  ASSERT_TRUE(Start(server.Url("/missing")));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(AllEvents(), std::vector<std::string>{"Error 12003 @req"});
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(NetWinInet, RefusedConnectionReportsTheTransportsLastError) {
  const uint16_t port = LocalHttpServer::UnusedPort();
  ASSERT_NE(port, 0);
  ASSERT_TRUE(Start("http://127.0.0.1:" + std::to_string(port) + "/inf.php"));
  ASSERT_TRUE(WaitIdle());
  const auto events = AllEvents();
  ASSERT_EQ(events.size(), 1u);
  const auto errors = transport.Errors();
  ASSERT_FALSE(errors.empty());
  const uint32_t last = errors.back() & 0xFFFF;
  EXPECT_NE(last, 0u);
  EXPECT_NE(last, 12003u);
  EXPECT_EQ(events[0], "Error " + std::to_string(last) + " @req");
}

TEST_F(NetWinInet, BodyWithoutContentLengthReportsMinusOne) {
  HttpResponse r;
  r.Body = Pattern(5000);
  r.SendContentLength = false;
  r.ChunkSize = 2000;
  server.SetResponse(r);
  ASSERT_TRUE(Start(server.Url("/x")));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Events(), (std::vector<std::string>{"Size -1 @req", "Downloaded 5000 @req"}));
  std::lock_guard<std::mutex> l(mu_);
  EXPECT_EQ(body_, Pattern(5000));
  EXPECT_EQ(lastDone_, 5000);
  EXPECT_EQ(lastTotal_, -1);
}

TEST_F(NetWinInet, ResponseHeadersArriveAsLines) {
  HttpResponse r;
  r.Body = "x";
  r.Headers = {"X-Zelt: yes"};
  server.SetResponse(r);
  std::vector<std::string> lines;
  d->OnHeaders = [&](HTTPDownload&, const std::vector<std::string>& h) { lines = h; };
  ASSERT_TRUE(Start(server.Url("/h")));
  ASSERT_TRUE(WaitIdle());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("HTTP/1.1 200", 0), 0u) << lines.front();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "X-Zelt: yes"), lines.end());
  EXPECT_FALSE(lines.back().empty());
  ASSERT_NE(d->ResponseHeaders, nullptr);
  EXPECT_EQ(*d->ResponseHeaders, lines);
}

TEST_F(NetWinInet, SlowBodyStoppedByStopRaisesNothingMore) {
  HttpResponse r;
  r.Body = Pattern(64 * 1024);
  r.ChunkSize = 1024;
  r.ChunkDelay = 100ms;
  server.SetResponse(r);
  ASSERT_TRUE(Start(server.Url("/slow")));
  ASSERT_TRUE(Pump([&] {
    std::lock_guard<std::mutex> l(mu_);
    return progressCalls_ > 0;
  }));

  d->Stop();
  Add("-- stopped");
  EXPECT_FALSE(d->Busy);
  EXPECT_EQ(d->Data->Size(), 0u);
  d.reset();
  ASSERT_TRUE(Pump([&] { return workers_[0].expired(); }));
  // The connection really went: the server cannot finish its body.
  ASSERT_TRUE(Pump([&] { return server.AbortedResponses() == 1; }, 20s));

  const auto events = AllEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "-- stopped");
  EXPECT_EQ(std::count(events.begin(), events.end(), "Downloaded 65536 @req"), 0);
}

}  // namespace
}  // namespace zelt
