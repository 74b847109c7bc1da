// Timing of HTTPDownload over WinInet on the loopback interface (run under
// Wine with scripts/wine-run): how long Stop takes while a body trickles in or
// while the request thread sits in a stalled read, and how long a 100 KB body
// takes from Start to OnDownloaded, with and without progress calls.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/DownloadWorker.h"
#include "net/HTTPDownload.h"
#include "net/WinInetTransport_win.h"
#include "tools/ScriptServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zelt::HTTPDownload;

// The GUI queue as the program has it: a window of the GUI thread that runs
// sent tasks from its window procedure.
class WindowQueue : public zelt::IGuiQueue {
 public:
  WindowQueue() : thread_(GetCurrentThreadId()) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZeltBenchQueue";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowW(L"ZeltBenchQueue", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  ~WindowQueue() override { DestroyWindow(hwnd_); }
  void Post(std::function<void()> task) override {
    auto* heap = new std::function<void()>(std::move(task));
    if (!PostMessageW(hwnd_, WM_APP + 1, 0, reinterpret_cast<LPARAM>(heap))) delete heap;
  }
  bool Send(std::function<void()> task) override {
    if (IsGuiThread()) {
      task();
      return true;
    }
    SendMessageW(hwnd_, WM_APP + 2, 0, reinterpret_cast<LPARAM>(&task));
    return true;
  }
  bool IsGuiThread() const override { return GetCurrentThreadId() == thread_; }

  // Services messages until done() holds; false after the limit.
  bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > deadline) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return true;
  }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_APP + 1) {
      std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(l));
      (*task)();
      return 0;
    }
    if (m == WM_APP + 2) {
      (*reinterpret_cast<std::function<void()>*>(l))();
      return 0;
    }
    return DefWindowProcW(h, m, w, l);
  }
  DWORD thread_;
  HWND hwnd_ = nullptr;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(const char* what, std::vector<double> v) {
  if (v.empty()) {
    std::printf("%-58s no samples\n", what);
    return;
  }
  std::sort(v.begin(), v.end());
  std::printf("%-58s n=%2zu  min %8.2f  median %8.2f  max %8.2f ms\n", what, v.size(), v.front(), v[v.size() / 2],
              v.back());
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

// Stop `after` the first chunk has arrived; returns the time Stop took and,
// through `ended`, the time from Stop until the request thread let go.
bool TimeStop(WindowQueue& gui, zelt::IHttpTransport& transport, const std::string& url,
              std::chrono::milliseconds after, double& stopMs, double& endedMs) {
  auto d = std::make_unique<HTTPDownload>(transport, gui);
  bool gotChunk = false;
  std::atomic<bool> late{false};
  std::atomic<bool> stopped{false};
  d->OnProgress = [&](HTTPDownload&, int32_t, int32_t) { gotChunk = true; };
  d->OnDownloaded = [&](HTTPDownload&, zelt::TMemoryStream&) { if (stopped) late = true; };
  if (!d->Start(url)) return false;
  std::weak_ptr<zelt::DownloadWorker> worker = d->Worker;
  if (!gui.Pump([&] { return gotChunk; })) return false;
  const auto first = Clock::now();
  gui.Pump([&] { return Clock::now() - first >= after; });
  const auto t0 = Clock::now();
  d->Stop();
  const auto t1 = Clock::now();
  stopped = true;
  d.reset();
  if (!gui.Pump([&] { return worker.expired(); })) return false;
  stopMs = Ms(t1 - t0);
  endedMs = Ms(Clock::now() - t1);
  if (late) std::printf("  an event arrived after Stop!\n");
  return !late;
}

// The test server, serving each body at its own path to every request.
class Server {
 public:
  Server() { error_ = server_.Start("tools/zelt_server.py", "--port 0 --max-seconds 600"); }
  const std::string& Error() const { return error_; }
  std::string Serve(const std::string& name, size_t size, int chunk = 4096, double delay = 0) {
    server_.Control("update-file", "{\"name\": \"" + name + "\", \"raw_text\": \"" + Pattern(size) +
                                       "\", \"chunk\": " + std::to_string(chunk) + ", \"delay\": " +
                                       std::to_string(delay) + "}");
    return server_.Url("/ZeltInformer/" + name);
  }

 private:
  zelt::fake::ScriptServer server_;
  std::string error_;
};

}  // namespace

int main() {
  WindowQueue gui;
  zelt::WinInetTransport transport;
  Server server;
  if (!server.Error().empty()) {
    std::printf("%s\n", server.Error().c_str());
    return 1;
  }
  const int runs = 20;

  // WinInet fills the whole 4096-byte read buffer before a read returns, so
  // the server trickles 4096-byte pieces: each read waits for the next one.
  {
    const std::string url = server.Serve("trickle", 512 * 1024, 4096, 0.02);
    std::vector<double> stop, ended;
    for (int i = 0; i < runs; ++i) {
      double s = 0, e = 0;
      // Stop lands at a different point of the 20 ms cycle each run.
      if (TimeStop(gui, transport, url, std::chrono::milliseconds(i % 20), s, e)) {
        stop.push_back(s);
        ended.push_back(e);
      }
    }
    Report("Stop, body trickling (4 KB every 20 ms)", stop);
    Report("  request thread gone after Stop", ended);
  }
  {
    const std::string url = server.Serve("stall", 8 * 1024, 4096, 2.0);  // the read after the first piece stalls
    std::vector<double> stop, ended;
    for (int i = 0; i < 5; ++i) {
      double s = 0, e = 0;
      if (TimeStop(gui, transport, url, 50ms, s, e)) {
        stop.push_back(s);
        ended.push_back(e);
      }
    }
    Report("Stop, read stalled (next piece after 2 s)", stop);
    Report("  request thread gone after Stop", ended);
  }
  {
    const std::string url = server.Serve("100k", 100 * 1024, 100 * 1024);
    for (bool progress : {true, false}) {
      std::vector<double> times;
      for (int i = 0; i < runs; ++i) {
        HTTPDownload d(transport, gui);
        bool done = false;
        size_t size = 0;
        Clock::time_point at;
        if (progress) d.OnProgress = [](HTTPDownload&, int32_t, int32_t) {};
        d.OnDownloaded = [&](HTTPDownload&, zelt::TMemoryStream& data) {
          at = Clock::now();
          size = data.Size();
          done = true;
        };
        const auto t0 = Clock::now();
        if (!d.Start(url)) continue;
        // Written on the request thread; Busy turns false after the handler.
        if (!gui.Pump([&] { return !d.Busy; })) continue;
        if (done && size == 100 * 1024) times.push_back(Ms(at - t0));
      }
      Report(progress ? "Start to OnDownloaded, 100 KB, with OnProgress" : "Start to OnDownloaded, 100 KB, no OnProgress",
             times);
    }
  }
  return 0;
}
