// HTTPDownload over the real WinInet transport, with the application object
// as the GUI queue, against the project's test server: a request through a
// proxy whose body comes without a length, a trickling reply past its deadline. (What a direct request carries and how its body arrives, the
// end-to-end tests see in every poll.)
#include <windows.h>

#include <mutex>

#include "net/DownloadWorker.h"
#include "net/HTTPDownload.h"
#include "net/WinInetTransport_win.h"
#include "tests/support/Win.h"

namespace zelt::fake {
namespace {

class Net : public ::testing::Test {
 protected:
  // The server ends when the test program does (its alive file goes with it).
  static void SetUpTestSuite() { error = server.Start("tools/zelt_server.py", "--port 0 --max-seconds 300"); }
  void SetUp() override { ASSERT_TRUE(error.empty()) << error; }

  // One request; its events (other than progress) once it has ended.
  std::vector<std::string> Fetch(const std::string& url, const std::function<void(HTTPDownload&)>& more = nullptr) {
    events.clear();
    auto d = std::make_unique<HTTPDownload>(wininet, app);
    d->Options.UserAgent = "Zelt Rarazovo 0.4";
    d->OnError = [&](HTTPDownload&, uint16_t code) { Add("Error " + std::to_string(code)); };
    d->OnSize = [&](HTTPDownload&, int32_t size) { Add("Size " + std::to_string(size)); };
    d->OnProgress = [&](HTTPDownload&, int32_t done, int32_t total) {
      if (!app.IsGuiThread()) Add("progress off the GUI thread");
      lastProgress = std::to_string(done) + "/" + std::to_string(total);
    };
    d->OnDownloaded = [&](HTTPDownload&, TMemoryStream& data) { Add("Downloaded " + std::to_string(data.Size())); };
    if (more) more(*d);
    EXPECT_TRUE(d->Start(url));
    std::weak_ptr<DownloadWorker> worker = d->Worker;
    EXPECT_TRUE(PumpUntil(app, [&] { return !d->Busy; }, 60000));
    d.reset();
    EXPECT_TRUE(PumpUntil(app, [&] { return worker.expired(); }, 60000));
    std::lock_guard<std::mutex> l(m);
    return events;
  }
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> l(m);
    events.push_back(e);
  }

  static inline ScriptServer server;
  static inline std::string error;
  static inline WinInetTransport wininet;  // outlives every request, also those left to end on their own
  FakeDesktop desktop;
  TApplication app{"net test", desktop};
  std::mutex m;
  std::vector<std::string> events;
  std::string lastProgress;
};

// Through a proxy the request names the whole address; a body without a
// length arrives whole.
TEST_F(Net, ThroughAProxyTheRequestNamesTheWholeAddress) {
  server.Control("reset", "{}");
  server.Control("script", R"({"path": "/x", "replies": [{"raw_text": "via proxy", "content_length": false}]})");
  const auto events = Fetch("http://zelt.invalid:8123/x?y=1", [](HTTPDownload& d) {
    d.Options.ProxyServer = "127.0.0.1";
    d.Options.ProxyPort = static_cast<uint16_t>(std::stoi(server.Value("port")));
  });
  EXPECT_EQ(events, (std::vector<std::string>{"Size -1", "Downloaded 9"}));
  EXPECT_EQ(lastProgress, "9/-1");
  const std::string log = server.Control("log");
  EXPECT_NE(log.find(R"("request_line": "GET http://zelt.invalid:8123/x?y=1 HTTP/1.1")"), std::string::npos) << log;
  EXPECT_NE(log.find(R"("Proxy-Connection": "close")"), std::string::npos) << log;
}

// A reply that trickles for ever ends at the deadline, once, as a timeout,
// and its request thread lets go of the connection soon after.
TEST_F(Net, ADeadlineEndsATricklingReplyOnceAndDropsTheConnection) {
  server.Control("reset", "{}");
  server.Control("script", R"({"path": "/trickle", "replies": [{"trickle": 0.2}]})");
  EXPECT_EQ(Fetch(server.Url("/trickle"), [](HTTPDownload& d) { d.Options.Limits.DeadlineMs = 1500; }),
            (std::vector<std::string>{"Size -1", "Error 12002"}));
  EXPECT_TRUE(PumpUntil(app, [] { return server.Control("log").find(R"("aborted": true)") != std::string::npos; }));
}

}  // namespace
}  // namespace zelt::fake
