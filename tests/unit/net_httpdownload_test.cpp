// HTTPDownload's request over a scripted transport: the calls it makes, the
// events it raises and on which thread, cancellation at every step, and the
// lifetime of a stopped request.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/DownloadWorker.h"
#include "net/HTTPDownload.h"

namespace zelt {
namespace {

using namespace std::chrono_literals;

// Every wait in these tests is bounded by this; none is a timing assertion.
constexpr auto kPatience = 10s;

// ---------------------------------------------------------------------------
// A GUI queue whose GUI thread is the test's own thread. Send from another
// thread queues the task and blocks until the test drains the queue.
class TestGuiQueue : public IGuiQueue {
 public:
  TestGuiQueue() : gui_(std::this_thread::get_id()) {}
  ~TestGuiQueue() override { Shutdown(); }

  void Post(std::function<void()> task) override {
    std::lock_guard<std::mutex> l(mu_);
    if (closed_) return;
    queue_.push_back({std::move(task), nullptr});
    cv_.notify_all();
  }

  bool Send(std::function<void()> task) override {
    if (IsGuiThread()) {
      task();
      return true;
    }
    auto state = std::make_shared<SendState>();
    std::unique_lock<std::mutex> l(mu_);
    if (closed_) return false;
    queue_.push_back({std::move(task), state});
    cv_.notify_all();
    cv_.wait(l, [&] { return state->finished; });
    return state->ran;
  }

  bool IsGuiThread() const override { return std::this_thread::get_id() == gui_; }

  // Runs queued tasks until done() holds or the patience runs out.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (done()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      Item item;
      {
        std::unique_lock<std::mutex> l(mu_);
        if (!cv_.wait_for(l, 2ms, [&] { return !queue_.empty(); })) continue;
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      item.task();
      if (item.send) {
        std::lock_guard<std::mutex> l(mu_);
        item.send->ran = item.send->finished = true;
        cv_.notify_all();
      }
    }
  }

  // Waits, without running anything, until another thread has sent a task.
  bool WaitForPendingSend() {
    std::unique_lock<std::mutex> l(mu_);
    return cv_.wait_for(l, kPatience, [&] {
      for (const Item& i : queue_)
        if (i.send) return true;
      return false;
    });
  }

  void Shutdown() {
    std::deque<Item> dropped;
    {
      std::lock_guard<std::mutex> l(mu_);
      closed_ = true;
      dropped.swap(queue_);
      for (Item& i : dropped)
        if (i.send) i.send->finished = true;
      cv_.notify_all();
    }
  }

 private:
  struct SendState {
    bool finished = false;
    bool ran = false;
  };
  struct Item {
    std::function<void()> task;
    std::shared_ptr<SendState> send;
  };
  const std::thread::id gui_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  bool closed_ = false;
};

// ---------------------------------------------------------------------------
// The scripted network. Each request (one Open) follows a Reply; every call is
// logged per request. One call may be held until the test releases it, which
// stands for a network call that blocks.
enum class Step { None, Open, Connect, OpenRequest, AddHeader, Send, HeaderSize, HeaderBlock, Status, Length, Read };

struct Reply {
  Step fail = Step::None;  // this call fails with `error`
  uint32_t error = 0;
  int failRead = -1;       // index of the read that fails (error 12002)
  Step hold = Step::None;  // this call waits for Release()
  int holdRead = 0;        // which read, when the hold is a read
  std::string headers = "HTTP/1.1 200 OK\r\nServer: scripted\r\n\r\n";
  std::string status = "200";
  std::optional<std::string> contentLength;
  std::vector<std::string> chunks;
};

class ScriptedTransport : public IHttpTransport {
 public:
  void Queue(Reply r) {
    std::lock_guard<std::mutex> l(mu_);
    queued_.push_back(std::move(r));
  }
  std::vector<std::string> Calls(int request = 1) const {
    std::lock_guard<std::mutex> l(mu_);
    auto it = requests_.find(request);
    return it == requests_.end() ? std::vector<std::string>{} : it->second.calls;
  }
  int Requests() const {
    std::lock_guard<std::mutex> l(mu_);
    return static_cast<int>(requests_.size());
  }
  int Reads(int request = 1) const {
    std::lock_guard<std::mutex> l(mu_);
    auto it = requests_.find(request);
    return it == requests_.end() ? 0 : it->second.reads;
  }
  bool WaitHeld() {
    std::unique_lock<std::mutex> l(mu_);
    return cv_.wait_for(l, kPatience, [&] { return held_; });
  }
  bool Held() const {
    std::lock_guard<std::mutex> l(mu_);
    return held_;
  }
  void Release() {
    std::lock_guard<std::mutex> l(mu_);
    released_ = true;
    cv_.notify_all();
  }
  bool Closed(int request = 1) const {
    std::lock_guard<std::mutex> l(mu_);
    auto it = requests_.find(request);
    return it != requests_.end() && it->second.closedInternet;
  }

  HttpHandle Open(const std::string& agent, uint32_t accessType, const std::string* proxy) override {
    std::unique_lock<std::mutex> l(mu_);
    const int id = static_cast<int>(requests_.size()) + 1;
    Request& r = requests_[id];
    if (!queued_.empty()) {
      r.reply = queued_.front();
      queued_.pop_front();
    }
    r.calls.push_back("Open agent=" + agent + " type=" + std::to_string(accessType) +
                      " proxy=" + (proxy ? *proxy : std::string("none")));
    if (Blocked(l, r, Step::Open)) return Fail(r);
    return NewHandle(id, "internet");
  }
  HttpHandle Connect(HttpHandle inet, const std::string& host, uint16_t port, const std::string& user,
                     const std::string& password) override {
    std::unique_lock<std::mutex> l(mu_);
    Request& r = Of(inet, "internet");
    r.calls.push_back("Connect host=" + host + " port=" + std::to_string(port) + " user=" + user +
                      " password=" + password);
    if (Blocked(l, r, Step::Connect)) return Fail(r);
    return NewHandle(Id(inet), "connection");
  }
  HttpHandle OpenRequest(HttpHandle conn, const std::string& path, uint32_t flags) override {
    std::unique_lock<std::mutex> l(mu_);
    Request& r = Of(conn, "connection");
    r.calls.push_back("OpenRequest path=" + path + " flags=" + Hex(flags));
    if (Blocked(l, r, Step::OpenRequest)) return Fail(r);
    return NewHandle(Id(conn), "request");
  }
  bool AddRequestHeaders(HttpHandle req, const std::string& line, uint32_t flags) override {
    std::unique_lock<std::mutex> l(mu_);
    Request& r = Of(req, "request");
    r.calls.push_back("AddHeader " + line + " len=" + std::to_string(line.size()) + " flags=" + Hex(flags));
    if (Blocked(l, r, Step::AddHeader)) return Fail(r) != nullptr;
    return true;
  }
  bool SendRequest(HttpHandle req) override {
    std::unique_lock<std::mutex> l(mu_);
    Request& r = Of(req, "request");
    r.calls.push_back("Send");
    if (Blocked(l, r, Step::Send)) return Fail(r) != nullptr;
    return true;
  }
  bool QueryInfo(HttpHandle req, uint32_t level, char* buffer, uint32_t* length) override {
    std::unique_lock<std::mutex> l(mu_);
    Request& r = Of(req, "request");
    r.calls.push_back("Query " + std::to_string(level) + (buffer ? "" : " null") + " len=" + std::to_string(*length));
    switch (level) {
      case inet::kQueryRawHeadersCrlf:
        if (Blocked(l, r, buffer ? Step::HeaderBlock : Step::HeaderSize)) return Fail(r) != nullptr;
        return Copy(r.reply.headers, buffer, length);
      case inet::kQueryStatusCode:
        if (Blocked(l, r, Step::Status)) return Fail(r) != nullptr;
        return Copy(r.reply.status, buffer, length);
      case inet::kQueryContentLength:
        if (Blocked(l, r, Step::Length)) return Fail(r) != nullptr;
        if (!r.reply.contentLength) {
          lastError_ = 12150;  // ERROR_HTTP_HEADER_NOT_FOUND
          return false;
        }
        return Copy(*r.reply.contentLength, buffer, length);
      default:
        ADD_FAILURE() << "unexpected query level " << level;
        return false;
    }
  }
  bool ReadFile(HttpHandle req, char* buffer, uint32_t size, uint32_t* read) override {
    std::unique_lock<std::mutex> l(mu_);
    Request& r = Of(req, "request");
    r.calls.push_back("Read size=" + std::to_string(size));
    const int index = r.reads++;
    if (r.reply.hold == Step::Read && r.reply.holdRead == index) Hold(l);
    if (r.reply.failRead == index) {
      lastError_ = 12002;
      return false;
    }
    *read = 0;
    if (static_cast<size_t>(index) < r.reply.chunks.size()) {
      const std::string& chunk = r.reply.chunks[static_cast<size_t>(index)];
      EXPECT_LE(chunk.size(), size);
      std::memcpy(buffer, chunk.data(), chunk.size());
      *read = static_cast<uint32_t>(chunk.size());
    }
    return true;
  }
  void CloseHandle(HttpHandle h) override {
    std::lock_guard<std::mutex> l(mu_);
    auto* handle = static_cast<Handle*>(h);
    Request& r = requests_.at(handle->request);
    r.calls.push_back(std::string("Close ") + handle->kind);
    EXPECT_FALSE(handle->closed) << "handle closed twice";
    handle->closed = true;
    if (std::strcmp(handle->kind, "internet") == 0) r.closedInternet = true;
    cv_.notify_all();
  }
  uint32_t LastError() override { return lastError_; }

 private:
  struct Handle {
    int request;
    const char* kind;
    bool closed = false;
  };
  struct Request {
    Reply reply;
    std::vector<std::string> calls;
    int reads = 0;
    bool closedInternet = false;
  };

  static std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", v);
    return text;
  }
  HttpHandle NewHandle(int request, const char* kind) {
    handles_.push_back(Handle{request, kind});
    return &handles_.back();
  }
  static int Id(HttpHandle h) { return static_cast<Handle*>(h)->request; }
  Request& Of(HttpHandle h, const char* kind) {
    auto* handle = static_cast<Handle*>(h);
    EXPECT_STREQ(handle->kind, kind);
    EXPECT_FALSE(handle->closed) << "call on a closed handle";
    return requests_.at(handle->request);
  }
  // Holds the call when the script says so; true when it is to fail.
  bool Blocked(std::unique_lock<std::mutex>& l, const Request& r, Step step) {
    if (r.reply.hold == step) Hold(l);
    return r.reply.fail == step;
  }
  void Hold(std::unique_lock<std::mutex>& l) {
    held_ = true;
    cv_.notify_all();
    cv_.wait_for(l, kPatience, [&] { return released_; });
  }
  HttpHandle Fail(const Request& r) {
    lastError_ = r.reply.error;
    return nullptr;
  }
  // Copies a value the way HttpQueryInfoA does: with its terminating zero, or
  // ERROR_INSUFFICIENT_BUFFER and the size needed.
  static bool Copy(const std::string& value, char* buffer, uint32_t* length) {
    if (!buffer || *length < value.size() + 1) {
      *length = static_cast<uint32_t>(value.size() + 1);
      lastError_ = inet::kErrorInsufficientBuffer;
      return false;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<uint32_t>(value.size());
    return true;
  }

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Reply> queued_;
  std::map<int, Request> requests_;
  std::deque<Handle> handles_;
  bool held_ = false;
  bool released_ = false;
  static thread_local uint32_t lastError_;
};

thread_local uint32_t ScriptedTransport::lastError_ = 0;

// ---------------------------------------------------------------------------
// Events as text, with the thread they arrived on.
class Recorder {
 public:
  void Add(std::string e) {
    std::lock_guard<std::mutex> l(mu_);
    events_.push_back(std::move(e));
  }
  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> l(mu_);
    return events_;
  }
  // The events after the first occurrence of `mark`.
  std::vector<std::string> After(const std::string& mark) const {
    std::lock_guard<std::mutex> l(mu_);
    std::vector<std::string> out;
    bool seen = false;
    for (const auto& e : events_) {
      if (seen) out.push_back(e);
      if (e == mark) seen = true;
    }
    return out;
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::string> events_;
};

enum Bind : unsigned {
  kError = 1,
  kSize = 2,
  kProgress = 4,
  kDownloaded = 8,
  kHeaders = 16,
  kAll = kError | kSize | kProgress | kDownloaded,
};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::string kUrl = "http://example.org/inf.php?c=10";

// The calls of a direct request to kUrl up to the send.
const std::vector<std::string> kPrologue = {
    "Open agent=Corvan HTTPClient/2.1 type=1 proxy=none",
    "Connect host=example.org port=80 user= password=",
    "OpenRequest path=/inf.php?c=10 flags=0x80000300",
    "AddHeader Connection: close len=17 flags=0x20000000",
    "Send",
};
const std::vector<std::string> kCloseAll = {"Close request", "Close connection", "Close internet"};

class NetHttpDownload : public ::testing::Test {
 protected:
  void BindEvents(unsigned which) {
    HTTPDownload& dl = *d;
    if (which & kError)
      dl.OnError = [this](HTTPDownload& s, uint16_t code) {
        EXPECT_EQ(&s, d.get());
        rec.Add("Error " + std::to_string(code) + Where());
      };
    if (which & kSize)
      dl.OnSize = [this](HTTPDownload& s, int32_t size) {
        EXPECT_EQ(&s, d.get());
        rec.Add("Size " + std::to_string(size) + Where());
      };
    if (which & kProgress)
      dl.OnProgress = [this](HTTPDownload& s, int32_t done, int32_t total) {
        EXPECT_EQ(&s, d.get());
        // The reads so far: the request thread must be waiting for us.
        rec.Add("Progress " + std::to_string(done) + "/" + std::to_string(total) +
                " reads=" + std::to_string(transport.Reads(transport.Requests())) + Where());
      };
    if (which & kDownloaded)
      dl.OnDownloaded = [this](HTTPDownload& s, TMemoryStream& data) {
        EXPECT_EQ(&s, d.get());
        EXPECT_EQ(&data, d->Data.get());
        rec.Add("Downloaded '" + data.Bytes.substr(data.Position) + "'" + Where());
      };
    if (which & kHeaders)
      dl.OnHeaders = [this](HTTPDownload& s, const std::vector<std::string>& lines) {
        EXPECT_EQ(&s, d.get());
        EXPECT_EQ(&lines, d->ResponseHeaders.get());
        std::string text;
        for (const auto& line : lines) text += (text.empty() ? "" : "|") + line;
        rec.Add("Headers " + text + Where());
      };
  }
  std::string Where() const { return gui.IsGuiThread() ? " @gui" : " @req"; }

  bool Start(const std::string& url = kUrl) {
    const bool ok = d->Start(url);
    if (ok) workers.push_back(d->Worker);
    return ok;
  }
  bool WaitIdle() {
    return gui.RunUntil([&] { return !d->Busy; });
  }
  bool WaitClosed(int request) {
    return gui.RunUntil([&] { return transport.Closed(request); });
  }

  void TearDown() override {
    transport.Release();
    d.reset();
    // Stopped requests end on their own; the transport and the queue must
    // outlive them.
    EXPECT_TRUE(gui.RunUntil([&] {
      for (auto& w : workers)
        if (!w.expired()) return false;
      return true;
    })) << "a request thread did not end";
  }

  ScriptedTransport transport;
  TestGuiQueue gui;
  Recorder rec;
  std::vector<std::weak_ptr<DownloadWorker>> workers;
  std::unique_ptr<HTTPDownload> d = std::make_unique<HTTPDownload>(transport, gui);
};

// ---------------------------------------------------------------------------

struct FlowCase {
  const char* name;
  unsigned bind;
  bool sizeOnly;
  Reply reply;
  std::vector<std::string> events;
  std::vector<std::string> calls;
};

Reply Body(std::optional<std::string> length, std::vector<std::string> chunks, std::string status = "200") {
  Reply r;
  r.contentLength = std::move(length);
  r.chunks = std::move(chunks);
  r.status = std::move(status);
  return r;
}
Reply Failing(Step step, uint32_t error) {
  Reply r = Body("3", {"abc"});
  r.fail = step;
  r.error = error;
  return r;
}

TEST_F(NetHttpDownload, RequestFlowsFromReplyToEvents) {
  const std::vector<std::string> status = {"Query 19 len=16"};
  const std::vector<std::string> length = {"Query 5 len=16"};
  const std::vector<std::string> read = {"Read size=4096"};
  Reply headersOk = Body("2", {"hi"});
  headersOk.headers = "HTTP/1.1 200 OK\r\nA: 1\r\nB: two\r\n\r\n";
  Reply headersSizeFails = Body("2", {"hi"});
  headersSizeFails.fail = Step::HeaderSize;
  headersSizeFails.error = 12150;
  Reply headersBlockFails = Body("2", {"hi"});
  headersBlockFails.fail = Step::HeaderBlock;
  headersBlockFails.error = 12019;
  Reply readFails = Body("9", {"abc", "def", "ghi"});
  readFails.failRead = 2;
  Reply statusFails = Body("3", {"abc"});
  statusFails.fail = Step::Status;
  statusFails.error = 12150;
  const std::string chunk4k(4096, 'x');

  const FlowCase cases[] = {
      {"body with length", kAll, false, Body("11", {"hello ", "world"}),
       {"Size 11 @req", "Progress 6/11 reads=1 @gui", "Progress 11/11 reads=2 @gui", "Downloaded 'hello world' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096", "Read size=4096"}),
            kCloseAll)},
      {"full chunks", kAll, false, Body("8192", {chunk4k, chunk4k}),
       {"Size 8192 @req", "Progress 4096/8192 reads=1 @gui", "Progress 8192/8192 reads=2 @gui",
        "Downloaded '" + chunk4k + chunk4k + "' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096", "Read size=4096"}),
            kCloseAll)},
      {"404", kAll, false, Body("5", {"nope!"}, "404"), {"Error 12003 @req"},
       Join(Join(kPrologue, status), kCloseAll)},
      {"404 without OnDownloaded", kError, false, Body("5", {"nope!"}, "404"), {"Error 12003 @req"},
       Join(Join(kPrologue, status), kCloseAll)},
      {"status unreadable", kAll, false, statusFails, {"Error 12150 @req", "Error 12003 @req"},
       Join(Join(kPrologue, status), kCloseAll)},
      {"status not a number", kAll, false, Body("3", {"abc"}, "2x0"), {"Error 12003 @req"},
       Join(Join(kPrologue, status), kCloseAll)},
      {"status longer than its buffer", kAll, false, Body("3", {"abc"}, "0000000000000200"),
       {"Error 122 @req", "Error 12003 @req"}, Join(Join(kPrologue, status), kCloseAll)},
      {"no Content-Length", kAll, false, Body(std::nullopt, {"abcde"}),
       {"Size -1 @req", "Progress 5/-1 reads=1 @gui", "Downloaded 'abcde' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096"}), kCloseAll)},
      {"Content-Length 0", kAll, false, Body("0", {"ab"}),
       {"Size -1 @req", "Progress 2/-1 reads=1 @gui", "Downloaded 'ab' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096"}), kCloseAll)},
      {"Content-Length negative", kSize | kDownloaded, false, Body("-7", {"ab"}), {"Size -1 @req", "Downloaded 'ab' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096"}), kCloseAll)},
      {"Content-Length longer than its buffer", kSize | kDownloaded, false, Body("1234567890123456", {"ab"}),
       {"Size -1 @req", "Downloaded 'ab' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096"}), kCloseAll)},
      {"Content-Length beyond 32 bits", kSize | kDownloaded, false, Body("4294967296", {"ab"}),
       {"Size -1 @req", "Downloaded 'ab' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096"}), kCloseAll)},
      {"empty body", kAll, false, Body("0", {}), {"Size -1 @req", "Downloaded '' @req"},
       Join(Join(Join(Join(kPrologue, status), length), read), kCloseAll)},
      {"read fails mid-body: the part received is delivered", kAll, false, readFails,
       {"Size 9 @req", "Progress 3/9 reads=1 @gui", "Progress 6/9 reads=2 @gui", "Downloaded 'abcdef' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096", "Read size=4096"}),
            kCloseAll)},
      {"size only", kAll, true, Body("11", {"hello world"}), {"Size 11 @req"},
       Join(Join(Join(kPrologue, status), length), kCloseAll)},
      {"size only without OnDownloaded: no size read", kError | kSize | kProgress, true, Body("11", {"hello world"}),
       {}, Join(Join(kPrologue, status), kCloseAll)},
      {"200 without OnDownloaded: nothing raised", kError | kSize | kProgress, false, Body("11", {"hello world"}), {},
       Join(Join(kPrologue, status), kCloseAll)},
      {"without OnProgress", kError | kSize | kDownloaded, false, Body("6", {"abc", "def"}),
       {"Size 6 @req", "Downloaded 'abcdef' @req"},
       Join(Join(Join(Join(kPrologue, status), length), {"Read size=4096", "Read size=4096", "Read size=4096"}),
            kCloseAll)},
      {"headers", kAll | kHeaders, false, headersOk,
       {"Headers HTTP/1.1 200 OK|A: 1|B: two @req", "Size 2 @req", "Progress 2/2 reads=1 @gui", "Downloaded 'hi' @req"},
       Join(Join(Join(Join(Join(kPrologue, {"Query 22 null len=0", "Query 22 len=34"}), status), length),
                 {"Read size=4096", "Read size=4096"}),
            kCloseAll)},
      {"header size query fails", kAll | kHeaders, false, headersSizeFails,
       {"Error 12150 @req", "Size 2 @req", "Progress 2/2 reads=1 @gui", "Downloaded 'hi' @req"},
       Join(Join(Join(Join(Join(kPrologue, {"Query 22 null len=0"}), status), length),
                 {"Read size=4096", "Read size=4096"}),
            kCloseAll)},
      {"header block query fails", kAll | kHeaders, false, headersBlockFails,
       {"Error 12019 @req", "Size 2 @req", "Progress 2/2 reads=1 @gui", "Downloaded 'hi' @req"},
       Join(Join(Join(Join(Join(kPrologue, {"Query 22 null len=0", "Query 22 len=38"}), status), length),
                 {"Read size=4096", "Read size=4096"}),
            kCloseAll)},
      {"open fails", kAll, false, Failing(Step::Open, 12007), {"Error 12007 @req"}, {kPrologue[0]}},
      {"error above 16 bits keeps its low half", kAll, false, Failing(Step::Open, 0x12345), {"Error 9029 @req"},
       {kPrologue[0]}},
      {"connect fails", kAll, false, Failing(Step::Connect, 12029), {"Error 12029 @req"},
       {kPrologue[0], kPrologue[1], "Close internet"}},
      {"open request fails", kAll, false, Failing(Step::OpenRequest, 12006), {"Error 12006 @req"},
       {kPrologue[0], kPrologue[1], kPrologue[2], "Close connection", "Close internet"}},
      {"send fails", kAll, false, Failing(Step::Send, 12002), {"Error 12002 @req"}, Join(kPrologue, kCloseAll)},
      {"failure without OnError: silent", kDownloaded, false, Failing(Step::Send, 12002), {},
       Join(kPrologue, kCloseAll)},
  };

  int request = 0;
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.name);
    d = std::make_unique<HTTPDownload>(transport, gui);
    BindEvents(c.bind);
    d->SizeOnly = c.sizeOnly;
    transport.Queue(c.reply);
    const size_t before = rec.Events().size();
    ASSERT_TRUE(Start());
    ++request;
    ASSERT_TRUE(WaitIdle());
    std::vector<std::string> events = rec.Events();
    events.erase(events.begin(), events.begin() + static_cast<long>(before));
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(transport.Calls(request), c.calls);
    if (c.bind & kDownloaded) {
      ASSERT_NE(d->Data, nullptr);
      EXPECT_EQ(d->Data->Position, 0u);
    }
  }
}

struct ConfigCase {
  const char* name;
  std::string url;
  std::string agent;
  std::string proxyServer;
  uint16_t proxyPort;
  bool systemProxy;
  std::vector<std::string> requestHeaders;
  std::vector<std::string> calls;
};

TEST_F(NetHttpDownload, CallSequenceFollowsTheConnectionSettings) {
  const std::vector<std::string> tail = {"Query 19 len=16", "Query 5 len=16", "Read size=4096", "Read size=4096",
                                         "Close request",   "Close connection", "Close internet"};
  const ConfigCase cases[] = {
      {"direct",
       kUrl,
       "Corvan HTTPClient/2.1",
       "",
       3128,
       false,
       {},
       Join(kPrologue, tail)},
      {"proxy",
       "http://example.org:8081/x?y=1",
       "Agent/1.0",
       "proxy.local",
       8080,
       false,
       {},
       Join({"Open agent=Agent/1.0 type=3 proxy=http=proxy.local:8080",
             "Connect host=example.org port=8081 user= password=", "OpenRequest path=/x?y=1 flags=0x80000300",
             "AddHeader Proxy-Connection: close len=23 flags=0x20000000", "Send"},
            tail)},
      {"proxy for an https request too",
       "https://example.org/x",
       "A",
       "proxy.local",
       8080,
       false,
       {},
       Join({"Open agent=A type=3 proxy=http=proxy.local:8080 https=proxy.local:8080",
             "Connect host=example.org port=443 user= password=", "OpenRequest path=/x flags=0x80A00300",
             "AddHeader Proxy-Connection: close len=23 flags=0x20000000", "Send"},
            tail)},
      {"system proxy",
       kUrl,
       "Corvan HTTPClient/2.1",
       "",
       3128,
       true,
       {},
       Join({"Open agent=Corvan HTTPClient/2.1 type=0 proxy=none", kPrologue[1], kPrologue[2],
             "AddHeader Proxy-Connection: close len=23 flags=0x20000000", "Send"},
            tail)},
      {"system proxy wins over a configured one",
       kUrl,
       "Corvan HTTPClient/2.1",
       "proxy.local",
       8080,
       true,
       {},
       Join({"Open agent=Corvan HTTPClient/2.1 type=0 proxy=none", kPrologue[1], kPrologue[2],
             "AddHeader Proxy-Connection: close len=23 flags=0x20000000", "Send"},
            tail)},
      {"extra request headers, in order, before the connection header",
       "http://u:p:q@example.org:99/inf.php",
       "A",
       "",
       3128,
       false,
       {"Accept-Encoding: deflate", "X-Test: 1"},
       Join({"Open agent=A type=1 proxy=none", "Connect host=example.org port=99 user=u password=p:q",
             "OpenRequest path=/inf.php flags=0x80000300", "AddHeader Accept-Encoding: deflate len=24 flags=0x20000000",
             "AddHeader X-Test: 1 len=9 flags=0x20000000", "AddHeader Connection: close len=17 flags=0x20000000",
             "Send"},
            tail)},
  };
  int request = 0;
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.name);
    d = std::make_unique<HTTPDownload>(transport, gui);
    BindEvents(kAll);
    d->UserAgent = c.agent;
    d->ProxyServer = c.proxyServer;
    d->ProxyPort = c.proxyPort;
    d->UseSystemProxy = c.systemProxy;
    d->RequestHeaders = &c.requestHeaders;
    transport.Queue(Body("1", {"z"}));
    ASSERT_TRUE(Start(c.url));
    ++request;
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(transport.Calls(request), c.calls);
    EXPECT_EQ(rec.Events().back(), "Downloaded 'z' @req");
  }
}

TEST_F(NetHttpDownload, DefaultsAreThoseOfAFreshComponent) {
  EXPECT_EQ(d->Worker, nullptr);
  EXPECT_EQ(d->ResponseHeaders, nullptr);
  EXPECT_EQ(d->RequestHeaders, nullptr);
  EXPECT_EQ(d->Data, nullptr);
  EXPECT_EQ(d->URL, "");
  EXPECT_FALSE(d->Busy);
  EXPECT_EQ(d->Port, 0);
  EXPECT_EQ(d->ProxyServer, "");
  EXPECT_EQ(d->ProxyPort, 3128);
  EXPECT_FALSE(d->UseSystemProxy);
  EXPECT_EQ(d->ContentLength, 0);
  EXPECT_FALSE(d->SizeOnly);
  EXPECT_EQ(d->UserAgent, "Corvan HTTPClient/2.1");
  d->Stop();  // idle: nothing happens
  EXPECT_FALSE(d->Busy);
  EXPECT_EQ(transport.Requests(), 0);
}

TEST_F(NetHttpDownload, RejectedUrlRaises12005OnTheCallersThreadBeforeStartReturns) {
  BindEvents(kAll);
  bool inStart = false;
  std::vector<bool> raisedInsideStart;
  d->OnError = [&](HTTPDownload&, uint16_t code) {
    EXPECT_TRUE(gui.IsGuiThread());
    EXPECT_EQ(code, 12005);
    raisedInsideStart.push_back(inStart);
  };
  for (const char* url : {"http://example.org", "ftp://example.org/x", "./d", "HTTP://example.org/x"}) {
    inStart = true;
    EXPECT_FALSE(d->Start(url)) << url;
    inStart = false;
    EXPECT_FALSE(d->Busy);
  }
  EXPECT_EQ(raisedInsideStart, std::vector<bool>(4, true));
  EXPECT_EQ(transport.Requests(), 0);
  EXPECT_EQ(d->Data, nullptr) << "a refused URL creates nothing";
}

TEST_F(NetHttpDownload, StartCreatesAndEmptiesTheBuffersItNeeds) {
  // Without the events, nothing is created.
  transport.Queue(Body("1", {"a"}));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(d->Data, nullptr);
  EXPECT_EQ(d->ResponseHeaders, nullptr);

  BindEvents(kDownloaded | kHeaders | kSize);
  transport.Queue(Body("5", {"first"}));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(WaitIdle());
  ASSERT_NE(d->Data, nullptr);
  ASSERT_NE(d->ResponseHeaders, nullptr);
  EXPECT_EQ(d->Data->Bytes, "first");
  EXPECT_EQ(*d->ResponseHeaders, (std::vector<std::string>{"HTTP/1.1 200 OK", "Server: scripted"}));
  EXPECT_EQ(d->ContentLength, 5);
  TMemoryStream* const data = d->Data.get();

  // The next request reuses the stream, emptied; a 404 leaves it empty and
  // keeps the last ContentLength.
  transport.Queue(Body("9", {"second!!!"}, "404"));
  ASSERT_TRUE(Start());
  EXPECT_EQ(d->Data.get(), data);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(d->Data->Size(), 0u);
  EXPECT_EQ(d->ContentLength, 5);
}

TEST_F(NetHttpDownload, BusyTurnsFalseOnlyAfterTheLastEventHasReturned) {
  struct LastEvent {
    const char* name;
    Reply reply;
    bool sizeOnly;
  };
  const LastEvent cases[] = {
      {"OnDownloaded", Body("1", {"a"}), false},
      {"OnError", Body("1", {"a"}, "500"), false},
      {"OnSize with SizeOnly", Body("1", {"a"}), true},
  };
  for (const LastEvent& c : cases) {
    SCOPED_TRACE(c.name);
    d = std::make_unique<HTTPDownload>(transport, gui);
    d->SizeOnly = c.sizeOnly;
    std::mutex mu;
    std::condition_variable cv;
    bool entered = false, leave = false;
    std::vector<bool> busyInHandler;
    auto lastHandler = [&] {
      std::unique_lock<std::mutex> l(mu);
      busyInHandler.push_back(d->Busy);
      entered = true;
      cv.notify_all();
      cv.wait_for(l, kPatience, [&] { return leave; });
      busyInHandler.push_back(d->Busy);
    };
    d->OnDownloaded = [&](HTTPDownload&, TMemoryStream&) { lastHandler(); };
    if (std::string(c.name) == "OnError") d->OnError = [&](HTTPDownload&, uint16_t) { lastHandler(); };
    if (c.sizeOnly) d->OnSize = [&](HTTPDownload&, int32_t) { lastHandler(); };
    transport.Queue(c.reply);
    ASSERT_TRUE(Start());
    {
      std::unique_lock<std::mutex> l(mu);
      ASSERT_TRUE(cv.wait_for(l, kPatience, [&] { return entered; }));
    }
    EXPECT_TRUE(d->Busy) << "busy while the last handler runs";
    {
      std::lock_guard<std::mutex> l(mu);
      leave = true;
      cv.notify_all();
    }
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(busyInHandler, (std::vector<bool>{true, true}));
  }
}

TEST_F(NetHttpDownload, StartWhileRunningStopsTheFirstRequestAndStartsTheSecond) {
  BindEvents(kAll);
  Reply first = Body("2", {"a", "b"});
  first.hold = Step::Read;
  first.holdRead = 1;
  transport.Queue(first);
  transport.Queue(Body("6", {"second"}));
  ASSERT_TRUE(Start("http://one.example/1"));
  ASSERT_TRUE(gui.RunUntil([&] { return transport.Reads(1) == 2; }));  // the second read is held
  ASSERT_TRUE(d->Busy);

  // The first request is held in its read: nothing of it can come between
  // this mark and the second Start.
  rec.Add("-- starting the second");
  ASSERT_TRUE(Start("http://two.example/2"));
  EXPECT_EQ(d->HostName, "two.example");
  transport.Release();
  ASSERT_TRUE(WaitClosed(1));
  ASSERT_TRUE(WaitIdle());

  EXPECT_EQ(rec.Events(),
            (std::vector<std::string>{"Size 2 @req", "Progress 1/2 reads=1 @gui", "-- starting the second", "Size 6 @req",
                                      "Progress 6/6 reads=1 @gui", "Downloaded 'second' @req"}));
  EXPECT_EQ(d->Data->Bytes, "second") << "nothing of the first body";
  const std::vector<std::string> firstCalls = transport.Calls(1);
  EXPECT_EQ(std::vector<std::string>(firstCalls.end() - 4, firstCalls.end()),
            (std::vector<std::string>{"Read size=4096", "Close request", "Close connection", "Close internet"}))
      << "the stopped request reads no more";
  EXPECT_EQ(transport.Calls(2)[1], "Connect host=two.example port=80 user= password=");
}

TEST_F(NetHttpDownload, StopDuringTheBodyEmptiesDataAndNoDownloadedFollows) {
  BindEvents(kAll);
  Reply r = Body("9", {"abc", "def", "ghi"});
  r.hold = Step::Read;
  r.holdRead = 2;
  transport.Queue(r);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(gui.RunUntil([&] { return transport.Reads(1) == 3; }));
  EXPECT_EQ(d->Data->Bytes, "abcdef");

  d->Stop();
  rec.Add("-- stopped");
  EXPECT_FALSE(d->Busy);
  EXPECT_EQ(d->Data->Size(), 0u);
  transport.Release();
  ASSERT_TRUE(WaitClosed(1));
  EXPECT_EQ(rec.After("-- stopped"), std::vector<std::string>{});
  EXPECT_EQ(d->Data->Size(), 0u) << "the chunk read after the stop is dropped";
  d->Stop();  // idle again: nothing happens
}

// Stop at every blocking call of the request: no event follows, no further
// network call is made, and the handles opened so far are closed in order.
TEST_F(NetHttpDownload, StopAtEachStepEndsTheRequestWithoutEvents) {
  struct StepCase {
    const char* name;
    Step step;
    int holdRead;
    std::vector<std::string> calls;
  };
  const std::vector<std::string> status = {"Query 19 len=16"};
  const std::vector<std::string> headers = {"Query 22 null len=0", "Query 22 len=38"};
  const std::vector<std::string> length = {"Query 5 len=16"};
  const std::vector<std::string> read = {"Read size=4096"};
  const StepCase cases[] = {
      {"open", Step::Open, 0, {kPrologue[0], "Close internet"}},
      {"connect", Step::Connect, 0, {kPrologue[0], kPrologue[1], "Close connection", "Close internet"}},
      // The headers are added whatever happens; the send is what is skipped.
      {"open request", Step::OpenRequest, 0, Join({kPrologue[0], kPrologue[1], kPrologue[2], kPrologue[3]}, kCloseAll)},
      {"add header", Step::AddHeader, 0, Join({kPrologue[0], kPrologue[1], kPrologue[2], kPrologue[3]}, kCloseAll)},
      {"send", Step::Send, 0, Join(kPrologue, kCloseAll)},
      // The header block is still fetched, but OnHeaders is not raised.
      {"header size", Step::HeaderSize, 0, Join(Join(kPrologue, headers), kCloseAll)},
      {"header block", Step::HeaderBlock, 0, Join(Join(kPrologue, headers), kCloseAll)},
      {"status", Step::Status, 0, Join(Join(Join(kPrologue, headers), status), kCloseAll)},
      // The read that follows is made, its chunk dropped, and OnSize is not raised.
      {"content length", Step::Length, 0, Join(Join(Join(Join(Join(kPrologue, headers), status), length), read), kCloseAll)},
      {"first read", Step::Read, 0, Join(Join(Join(Join(Join(kPrologue, headers), status), length), read), kCloseAll)},
      {"second read", Step::Read, 1,
       Join(Join(Join(Join(Join(Join(kPrologue, headers), status), length), read), read), kCloseAll)},
  };
  int request = 0;
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTransport t;  // a fresh hold for each step
    d = std::make_unique<HTTPDownload>(t, gui);
    BindEvents(kAll | kHeaders);
    Reply r = Body("6", {"abc", "def"});
    r.hold = c.step;
    r.holdRead = c.holdRead;
    t.Queue(r);
    ASSERT_TRUE(d->Start(kUrl));
    std::weak_ptr<DownloadWorker> worker = d->Worker;
    const std::string mark = "-- stop " + std::to_string(++request);
    // Run what the request sends to the GUI until it is held.
    ASSERT_TRUE(gui.RunUntil([&] { return t.Held(); }));
    d->Stop();
    rec.Add(mark);
    EXPECT_FALSE(d->Busy);
    t.Release();
    ASSERT_TRUE(gui.RunUntil([&] { return t.Closed(1); }));
    d.reset();
    ASSERT_TRUE(gui.RunUntil([&] { return worker.expired(); }));
    EXPECT_EQ(rec.After(mark), std::vector<std::string>{});
    EXPECT_EQ(t.Calls(1), c.calls);
  }
}

// The GUI thread stops the component while the request thread waits for it to
// service a progress call: Stop must not wait for that, and the pending call,
// once serviced, must not reach the handler.
TEST_F(NetHttpDownload, StopOnTheGuiThreadWithAProgressCallPendingReturnsAndDropsIt) {
  BindEvents(kAll);
  transport.Queue(Body("2", {"a", "b"}));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(gui.WaitForPendingSend());

  d->Stop();
  rec.Add("-- stopped");
  EXPECT_FALSE(d->Busy);
  EXPECT_EQ(d->Data->Size(), 0u);
  EXPECT_FALSE(transport.Closed(1)) << "the request thread still waits for the GUI thread";

  ASSERT_TRUE(WaitClosed(1));
  EXPECT_EQ(rec.Events(), (std::vector<std::string>{"Size 2 @req", "-- stopped"}));
}

TEST_F(NetHttpDownload, StopFromTheProgressHandlerEndsTheRequest) {
  BindEvents(kAll);
  d->OnProgress = [&](HTTPDownload& s, int32_t done, int32_t) {
    rec.Add("Progress " + std::to_string(done));
    s.Stop();
    EXPECT_FALSE(s.Busy);
  };
  transport.Queue(Body("3", {"a", "b", "c"}));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(WaitClosed(1));
  EXPECT_EQ(rec.Events(), (std::vector<std::string>{"Size 3 @req", "Progress 1"}));
  EXPECT_FALSE(d->Busy);
  EXPECT_EQ(d->Data->Size(), 0u);
}

// The component goes right after Stop while its request is still blocked in
// the network: the request ends on its own later and touches nothing of it.
TEST_F(NetHttpDownload, ComponentDestroyedWhileItsRequestIsBlocked) {
  BindEvents(kAll);
  Reply r = Body("3", {"abc"});
  r.hold = Step::Send;
  transport.Queue(r);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(transport.WaitHeld());
  d->Stop();
  d.reset();  // destroyed while the request thread is still in the network
  rec.Add("-- destroyed");
  transport.Release();
  ASSERT_TRUE(gui.RunUntil([&] { return workers[0].expired(); }));
  EXPECT_EQ(rec.Events(), std::vector<std::string>{"-- destroyed"});
  EXPECT_EQ(transport.Calls(1), Join(kPrologue, kCloseAll));
}

TEST_F(NetHttpDownload, DestroyingARunningComponentStopsIt) {
  BindEvents(kAll);
  Reply r = Body("3", {"abc"});
  r.hold = Step::Status;
  transport.Queue(r);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(transport.WaitHeld());
  d.reset();
  rec.Add("-- destroyed");
  transport.Release();
  ASSERT_TRUE(gui.RunUntil([&] { return workers[0].expired(); }));
  EXPECT_EQ(rec.Events(), std::vector<std::string>{"-- destroyed"});
  EXPECT_EQ(transport.Calls(1), Join(Join(kPrologue, {"Query 19 len=16"}), kCloseAll));
}

}  // namespace
}  // namespace zelt
