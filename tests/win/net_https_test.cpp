// https under Wine: real WinInet against local TLS servers reached as
// "localhost", with a test authority in the prefix's trusted roots. A good
// certificate downloads (and the patch is written and started); one from an
// unknown authority or for another name fails with WinInet's certificate
// error, and nothing is written or started.
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "net/HTTPDownload.h"
#include "net/WinInetTransport_win.h"
#include "tests/win/support/update_harness.h"
#include "tests/win/support/update_tls.h"
#include "ui/uDownloaderForm.h"
#include "ui/uUpdateInfo.h"

namespace zelt::updatetest {
namespace {

// ERROR_INTERNET_SEC_CERT_CN_INVALID: the certificate names another host.
constexpr uint16_t kWrongName = 12038;
// An authority outside the trusted roots: ERROR_INTERNET_INVALID_CA, or, as
// Wine reports it, ERROR_INTERNET_SEC_CERT_REV_FAILED (the untrusted chain
// cannot be checked for revocation).
const std::set<uint16_t> kUnknownAuthority = {12045, 12057};

class HttpsTest : public UpdateFixture {
 protected:
  static void SetUpTestSuite() {
    servers = new TlsServers();
    startError = new std::string(servers->Start());
    trusted = startError->empty() && servers->TrustTestAuthority();
  }
  static void TearDownTestSuite() {
    delete servers;
    delete startError;
    servers = nullptr;
    startError = nullptr;
  }
  void SetUp() override {
    UpdateFixture::SetUp();
    ASSERT_TRUE(startError->empty()) << *startError;
    ASSERT_TRUE(trusted) << "the test authority could not be added to the trusted roots";
  }
  void TearDown() override {
    windowInfo.reset();
    windowDownload.reset();
    UpdateFixture::TearDown();
  }
  TUpdateEnv TlsEnv(const std::string& which) {
    return TUpdateEnv{*checker, wininet, *app, servers->Base(which), openDownload, runPatch};
  }

  // One request over the real transport; its events, once it has ended.
  struct Result {
    std::vector<uint16_t> errors;
    std::string body;
    int downloads = 0;
  };
  Result Fetch(const std::string& url) {
    HTTPDownload d(wininet, *app);
    Result r;
    d.UserAgent = "Zelt Rarazovo 0.4";
    d.OnError = [&](HTTPDownload&, uint16_t code) { app->Post([&r, code] { r.errors.push_back(code); }); };
    d.OnDownloaded = [&](HTTPDownload&, TMemoryStream& data) {
      app->Post([&r, body = data.Bytes] {
        ++r.downloads;
        r.body = body;
      });
    };
    EXPECT_TRUE(d.Start(url));
    EXPECT_EQ(d.Secure, url.rfind("https:", 0) == 0);
    EXPECT_TRUE(PumpUntil(*app, [&] { return !d.Busy; }, 60000));
    PumpFor(*app, 50);
    return r;
  }

  static TlsServers* servers;
  static std::string* startError;
  static bool trusted;
  // Outlives every request, also those left to end on their own after Stop.
  static inline WinInetTransport wininet;
  std::unique_ptr<TUpdateInfo> windowInfo;
  std::unique_ptr<TDownloaderForm> windowDownload;
};
TlsServers* HttpsTest::servers = nullptr;
std::string* HttpsTest::startError = nullptr;
bool HttpsTest::trusted = false;

using net_https_wine = HttpsTest;

TEST_F(net_https_wine, TrustedCertificateForLocalhostDownloads) {
  const Result r = Fetch(servers->Base("good") + "/ZeltInformer/files.zip");
  EXPECT_TRUE(r.errors.empty());
  ASSERT_EQ(r.downloads, 1);
  EXPECT_EQ(r.body, ReadFileBytes(UpdateFile("files.zip")));
}

TEST_F(net_https_wine, CertificateFaultsFailWithTheirWinInetCodes) {
  struct Case {
    const char* server;
    std::set<uint16_t> codes;
  };
  for (const Case& c : {Case{"unknown", kUnknownAuthority}, Case{"wrongname", {kWrongName}}}) {
    SCOPED_TRACE(c.server);
    const Result r = Fetch(servers->Base(c.server) + "/ZeltInformer/files.zip");
    EXPECT_EQ(r.downloads, 0);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(c.codes.count(r.errors[0]), 1u) << "code " << r.errors[0];
  }
}

TEST_F(net_https_wine, RedirectIsNotFollowedEvenLessToPlainHttp) {
  // The address it points to answers over plain http...
  const Result plain = Fetch(servers->Base("plain") + "/ZeltInformer/files.zip");
  ASSERT_EQ(plain.downloads, 1);
  // ...but a secure request does not go there: the redirect is its answer.
  const Result r = Fetch(servers->Base("good") + "/ZeltInformer/redirect-to-http");
  EXPECT_EQ(r.downloads, 0);
  EXPECT_EQ(r.errors, std::vector<uint16_t>{12003});
}

TEST_F(net_https_wine, PatchOverTlsIsWrittenAndStarted) {
  checker->Tag = 0;
  windowDownload = std::make_unique<TDownloaderForm>(nullptr, TlsEnv("good"));
  ASSERT_TRUE(PumpUntil(*app, [&] { return !launches.empty() || !boxes.empty(); }, 60000));
  EXPECT_TRUE(boxes.empty());
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].file, programDir + "sfx.exe");
  EXPECT_EQ(ReadFileBytes(programDir + "sfx.exe"), ReadFileBytes(UpdateFile("files.zip")));
}

TEST_F(net_https_wine, UntrustedPatchIsNeitherWrittenNorStarted) {
  for (const char* server : {"unknown", "wrongname"}) {
    SCOPED_TRACE(server);
    boxes.clear();
    windowDownload.reset();
    checker->Tag = 0;
    windowDownload = std::make_unique<TDownloaderForm>(nullptr, TlsEnv(server));
    ASSERT_TRUE(PumpUntil(*app, [&] { return !boxes.empty(); }, 60000));
    PumpFor(*app, 100);
    EXPECT_EQ(boxes[0].text, "Произошла ошибка при загрузке.");
    EXPECT_FALSE(FileExists(programDir + "sfx.exe"));
    EXPECT_TRUE(launches.empty());
    EXPECT_EQ(checker->UpdateInBytes, 0u);
  }
}

TEST_F(net_https_wine, UpdateDescriptionAndSizesOverTls) {
  windowInfo = std::make_unique<TUpdateInfo>(nullptr, TlsEnv("good"));
  ASSERT_TRUE(PumpUntil(*app, [&] { return windowInfo->Answers() == 3; }, 60000))
      << windowInfo->Description().PlainText();
  EXPECT_NE(windowInfo->Description().PlainText().find("Zelt Rarazovo 0.5"), std::string::npos);
  EXPECT_TRUE(windowInfo->SetupChoice().Checked());
  EXPECT_TRUE(windowInfo->DownloadButton().Enabled());
}

}  // namespace
}  // namespace zelt::updatetest
