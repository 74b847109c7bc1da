// HTTPDownload over "https": which URLs are taken, the port, the TLS flag on
// the request, and certificate failures reported with their own codes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/HTTPDownload.h"

namespace zelt::https_test {
namespace {

constexpr uint32_t kPlainFlags = 0x80000300;  // reload | no UI | pragma no-cache
constexpr uint32_t kSecureFlag = 0x00800000;  // INTERNET_FLAG_SECURE
constexpr uint32_t kNoRedirect = 0x00200000;  // INTERNET_FLAG_NO_AUTO_REDIRECT
constexpr uint32_t kTlsFlags = kPlainFlags | kSecureFlag | kNoRedirect;

// Runs every task at once on the calling thread: these requests raise no progress.
class InlineQueue final : public IGuiQueue {
 public:
  void Post(std::function<void()> task) override { task(); }
  bool Send(std::function<void()> task) override {
    task();
    return true;
  }
  bool IsGuiThread() const override { return false; }
};

// Answers every request with one body, or fails the send with a code; records
// the port and the request flags.
class FlagTransport final : public IHttpTransport {
 public:
  uint32_t sendError = 0;
  std::string body = "patch bytes";

  struct Seen {
    std::string host;
    uint16_t port;
    std::string path;
    uint32_t flags;
  };
  std::vector<Seen> Requests() {
    std::lock_guard<std::mutex> l(m_);
    return seen_;
  }

  HttpHandle Open(const std::string&, uint32_t, const std::string*) override { return this; }
  HttpHandle Connect(HttpHandle, const std::string& host, uint16_t port, const std::string&,
                     const std::string&) override {
    std::lock_guard<std::mutex> l(m_);
    seen_.push_back({host, port, "", 0});
    return this;
  }
  HttpHandle OpenRequest(HttpHandle, const std::string& path, uint32_t flags) override {
    std::lock_guard<std::mutex> l(m_);
    seen_.back().path = path;
    seen_.back().flags = flags;
    pos_ = 0;
    return this;
  }
  bool AddRequestHeaders(HttpHandle, const std::string&, uint32_t) override { return true; }
  bool SendRequest(HttpHandle) override {
    if (sendError == 0) return true;
    error_ = sendError;
    return false;
  }
  bool QueryInfo(HttpHandle, uint32_t level, char* buffer, uint32_t* length) override {
    const std::string v = level == inet::kQueryStatusCode ? "200" : std::to_string(body.size());
    if (!buffer || *length <= v.size()) {
      error_ = inet::kErrorInsufficientBuffer;
      return false;
    }
    std::copy(v.begin(), v.end(), buffer);
    buffer[v.size()] = '\0';
    *length = static_cast<uint32_t>(v.size());
    return true;
  }
  bool ReadFile(HttpHandle, char* buffer, uint32_t size, uint32_t* read) override {
    const size_t n = std::min<size_t>(size, body.size() - pos_);
    std::copy(body.begin() + static_cast<std::ptrdiff_t>(pos_), body.begin() + static_cast<std::ptrdiff_t>(pos_ + n),
              buffer);
    pos_ += n;
    *read = static_cast<uint32_t>(n);
    return true;
  }
  void CloseHandle(HttpHandle) override {}
  uint32_t LastError() override { return error_; }

 private:
  std::mutex m_;
  std::vector<Seen> seen_;
  size_t pos_ = 0;
  static inline thread_local uint32_t error_ = 0;
};

// Bounded wait for the request threads to finish.
bool WaitIdle(HTTPDownload& d) {
  for (int i = 0; i < 2000 && d.Busy; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return !d.Busy;
}

struct Outcome {
  std::vector<uint16_t> errors;
  std::string body;
  int downloads = 0;
};

void Bind(HTTPDownload& d, Outcome& out, std::mutex& m) {
  d.OnError = [&out, &m](HTTPDownload&, uint16_t code) {
    std::lock_guard<std::mutex> l(m);
    out.errors.push_back(code);
  };
  d.OnDownloaded = [&out, &m](HTTPDownload&, TMemoryStream& data) {
    std::lock_guard<std::mutex> l(m);
    ++out.downloads;
    out.body = data.Bytes;
  };
}

TEST(net_https, SchemeDecidesPortAndTls) {
  struct Case {
    const char* url;
    bool accepted;
    uint16_t port;
    uint32_t flags;
  };
  const Case cases[] = {
      {"https://update.example.org/ZeltInformer/files.zip", true, 443, kTlsFlags},
      {"https://update.example.org:8443/ZeltInformer/info.rtf", true, 8443, kTlsFlags},
      {"https://update.example.org:80/x", true, 80, kTlsFlags},
      {"https://update.example.org?q=1", true, 443, kTlsFlags},
      {"http://update.example.org/ZeltInformer/files.zip", true, 80, kPlainFlags},
      {"update.example.org/x", true, 80, kPlainFlags},
      // Taken only as written, like "http".
      {"HTTPS://update.example.org/x", false, 0, 0},
      {"Https://update.example.org/x", false, 0, 0},
      {"httpss://update.example.org/x", false, 0, 0},
      {"shttp://update.example.org/x", false, 0, 0},
      // Host and path are still needed.
      {"https://update.example.org", false, 0, 0},
      {"https:///x", false, 0, 0},
  };
  FlagTransport transport;
  InlineQueue gui;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    HTTPDownload d(transport, gui);
    Outcome out;
    std::mutex m;
    Bind(d, out, m);
    const size_t before = transport.Requests().size();
    EXPECT_EQ(d.Start(c.url), c.accepted);
    ASSERT_TRUE(WaitIdle(d));
    const auto seen = transport.Requests();
    if (!c.accepted) {
      EXPECT_EQ(seen.size(), before);
      EXPECT_EQ(out.errors, std::vector<uint16_t>{12005});
      EXPECT_EQ(out.downloads, 0);
      continue;
    }
    ASSERT_EQ(seen.size(), before + 1);
    EXPECT_EQ(d.Port, c.port);
    EXPECT_EQ(seen.back().port, c.port);
    EXPECT_EQ(seen.back().host, "update.example.org");
    EXPECT_EQ(seen.back().flags, c.flags);
    EXPECT_EQ(d.Secure, (c.flags & kSecureFlag) != 0);
    EXPECT_TRUE(out.errors.empty());
    EXPECT_EQ(out.body, "patch bytes");
  }
}

TEST(net_https, ReusedComponentDropsTlsForAPlainUrl) {
  FlagTransport transport;
  InlineQueue gui;
  HTTPDownload d(transport, gui);
  Outcome out;
  std::mutex m;
  Bind(d, out, m);
  for (const char* url : {"https://a.example/x", "http://a.example/x", "https://a.example/x"}) {
    ASSERT_TRUE(d.Start(url));
    ASSERT_TRUE(WaitIdle(d));
  }
  const auto seen = transport.Requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].flags, kTlsFlags);
  EXPECT_EQ(seen[1].flags, kPlainFlags);
  EXPECT_EQ(seen[1].port, 80);
  EXPECT_EQ(seen[2].flags, kTlsFlags);
  EXPECT_EQ(seen[2].port, 443);
}

TEST(net_https, CertificateFailuresAreReportedWithTheirCodesAndDeliverNothing) {
  // The WinInet codes of certificate faults: date, name, authority,
  // revocation unknown, revocation, invalid, errors.
  for (const uint16_t code : {12037, 12038, 12045, 12057, 12170, 12169, 12055}) {
    SCOPED_TRACE(code);
    FlagTransport transport;
    transport.sendError = code;
    InlineQueue gui;
    HTTPDownload d(transport, gui);
    Outcome out;
    std::mutex m;
    Bind(d, out, m);
    int sizes = 0;
    d.OnSize = [&sizes](HTTPDownload&, int32_t) { ++sizes; };
    ASSERT_TRUE(d.Start("https://update.example.org/ZeltInformer/files.zip"));
    ASSERT_TRUE(WaitIdle(d));
    EXPECT_EQ(out.errors, std::vector<uint16_t>{code});
    EXPECT_EQ(out.downloads, 0);
    EXPECT_EQ(sizes, 0);
    ASSERT_NE(d.Data, nullptr);
    EXPECT_EQ(d.Data->Size(), 0u);
  }
}

}  // namespace
}  // namespace zelt::https_test
