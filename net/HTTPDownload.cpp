#include "net/HTTPDownload.h"

#include <chrono>

#include "net/DownloadWorker.h"

namespace zelt {

namespace {

// Stop never waits longer than this for the request thread.
constexpr std::chrono::milliseconds kStopWait{200};

// The port of a URL: an optional sign, then digits up to the first non-digit
// (none give 0), kept in 16 bits. Unsigned arithmetic keeps exactly the low
// 16 bits of the decimal value however long the text is.
uint16_t PortValue(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint16_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(text[i] - '0'));
  return negative ? static_cast<uint16_t>(0u - value) : value;
}

}  // namespace

HTTPDownload::HTTPDownload(SharedTransport transport, IGuiQueue& gui) : transport_(std::move(transport)), gui_(gui) {}

HTTPDownload::~HTTPDownload() { Stop(); }

bool HTTPDownload::Start(const std::string& url) {
  if (Busy) Stop();
  if (Busy) return false;

  URL = url;
  std::string protocol;
  std::string portText;
  ParseURL(URL, protocol, Target.UserName, Target.Password, Target.HostName, portText, Target.Path);
  if (protocol.empty()) protocol = "http";
  // "https" runs the same request over TLS; like "http" it is taken only as
  // written, in lower case.
  const bool secure = protocol == "https";
  if (Target.HostName.empty() || Target.Path.empty() || (protocol != "http" && !secure)) {
    if (OnError) OnError(*this, inet::kErrorInvalidUrl);
    return false;
  }
  Target.Secure = secure;
  Target.Port = portText.empty() ? static_cast<uint16_t>(secure ? 443 : 80) : PortValue(portText);

  if (OnHeaders && !ResponseHeaders) ResponseHeaders = std::make_unique<std::vector<std::string>>();
  if (OnDownloaded) {
    if (!Data)
      Data = std::make_unique<TMemoryStream>();
    else
      Data->SetSize(0);
  }

  Busy = true;
  Worker = std::make_shared<DownloadWorker>(*this, transport_, gui_);
  if (!Worker->Run()) {
    // No thread could be made: nothing started.
    Worker->Detach();
    Busy = false;
    return false;
  }
  return true;
}

void HTTPDownload::Stop() {
  if (!Busy) return;
  const std::shared_ptr<DownloadWorker> worker = Worker;
  if (!worker) return;
  // After Detach no handler of this request runs and none will start; the
  // request thread may go on in the network, but it never touches us again.
  HTTPDownload* const owner = worker->Detach();
  worker->WaitEnded(kStopWait);
  if (owner) {
    if (Data) Data->SetSize(0);
    Busy = false;
  }
}

}  // namespace zelt
