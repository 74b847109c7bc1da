// Fake ports for the checker: a GUI queue the test drains, a timer the test
// ticks, a registry map, a sound recorder, a fixed clock and a scripted HTTP
// transport. Plus a fixture that builds a checker in a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "base/Ports.h"
#include "core/uChecker.h"
#include "net/HttpTransport.h"

namespace zelt::testing {

class FakeGuiQueue final : public IGuiQueue {
 public:
  void Post(std::function<void()> task) override {
    {
      std::lock_guard<std::mutex> l(m_);
      if (shut_) return;
      q_.push_back(std::move(task));
    }
    cv_.notify_all();
  }
  bool Send(std::function<void()> task) override {
    if (IsGuiThread()) {
      task();
      return true;
    }
    auto done = std::make_shared<bool>(false);
    {
      std::lock_guard<std::mutex> l(m_);
      if (shut_) return false;
      q_.push_back([this, task = std::move(task), done] {
        task();
        std::lock_guard<std::mutex> l2(m_);
        *done = true;
        cv_.notify_all();
      });
    }
    cv_.notify_all();
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return *done || shut_; });
    return *done;
  }
  bool IsGuiThread() const override { return std::this_thread::get_id() == gui_; }

  // Runs every queued task; returns how many ran.
  size_t RunPending() {
    size_t n = 0;
    while (true) {
      std::function<void()> task;
      {
        std::lock_guard<std::mutex> l(m_);
        if (q_.empty()) return n;
        task = std::move(q_.front());
        q_.pop_front();
      }
      task();
      ++n;
    }
  }
  // Runs tasks as they come until `done` holds. The limit only guards against
  // a hang; it is no measure of speed.
  bool DrainUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
      RunPending();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::unique_lock<std::mutex> l(m_);
      cv_.wait_for(l, std::chrono::milliseconds(5), [&] { return !q_.empty(); });
    }
  }
  void Shutdown() {
    {
      std::lock_guard<std::mutex> l(m_);
      shut_ = true;
      q_.clear();
    }
    cv_.notify_all();
  }

 private:
  std::thread::id gui_ = std::this_thread::get_id();
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
  bool shut_ = false;
};

class FakeTimer final : public IPollTimer {
 public:
  void SetInterval(uint32_t ms) override { interval_ = ms; }
  uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const override { return enabled_; }
  void SetOnTick(std::function<void()> tick) override { tick_ = std::move(tick); }
  void Tick() {
    if (enabled_ && tick_) tick_();
  }

 private:
  uint32_t interval_ = 0;
  bool enabled_ = false;
  std::function<void()> tick_;
};

class FakeRegistry final : public IRegistry {
 public:
  std::set<std::string> keys = {"Software\\Microsoft\\Windows\\CurrentVersion\\Run"};
  std::map<std::pair<std::string, std::string>, std::string> values;
  std::vector<std::string> log;

  bool WriteString(const std::string& key, const std::string& name, const std::wstring& wide, bool create) override {
    const std::string value = std::filesystem::path(wide).string();
    log.push_back("write " + key + "|" + name + "|" + value + (create ? "|create" : ""));
    if (!keys.count(key)) {
      if (!create) return false;
      keys.insert(key);
    }
    values[{key, name}] = value;
    return true;
  }
  bool DeleteValue(const std::string& key, const std::string& name) override {
    log.push_back("delete " + key + "|" + name);
    return keys.count(key) && values.erase({key, name}) > 0;
  }
  // Every save ends by writing or deleting the Run value.
  size_t Saves() const {
    size_t n = 0;
    for (const auto& l : log) n += l.find("CurrentVersion\\Run|ZeltInformerA") != std::string::npos;
    return n;
  }
};

class FakeSound final : public ISoundPlayer {
 public:
  std::vector<std::string> log;
  std::set<std::string> missing;
  void Stop() override { log.push_back("stop"); }
  void Close() override { log.push_back("close"); }
  bool SetFileName(const std::string& path) override {
    log.push_back("open " + path);
    return !missing.count(path);
  }
  void Play() override { log.push_back("play"); }
};

class FakeClock final : public IClock {
 public:
  double now = 739955.875;  // 05-12-2026, 21:00
  double Now() const override { return now; }
};

// One scripted answer of the transport.
struct Reply {
  enum Fail { None, Open, Connect, OpenRequest, Send };
  int status = 200;
  std::string body;
  Fail failAt = None;
  uint32_t error = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
  bool block = false;      // the body read waits for Release()
  int64_t announced = -1;  // Content-Length sent; -1: the body's size
  size_t failReadAt = std::string::npos;  // a read at this offset fails with `error`
};

// What a request asked for.
struct Seen {
  std::string agent, host, path, proxy;
  uint32_t access = 0;
  uint16_t port = 0;
  std::vector<std::string> headers;
};

class ScriptedTransport final : public IHttpTransport {
 public:
  ~ScriptedTransport() override {
    Release();
    // Requests left running by a stopped component still close their handles
    // here; wait for them so that none outlives the transport.
    std::unique_lock<std::mutex> l(m_);
    cv_.wait_for(l, std::chrono::seconds(20), [&] { return open_.empty(); });
  }

  void Push(Reply r) {
    std::lock_guard<std::mutex> l(m_);
    script_.push_back(std::move(r));
  }
  void SetDefault(Reply r) {
    std::lock_guard<std::mutex> l(m_);
    default_ = std::move(r);
  }
  void Release() {
    std::lock_guard<std::mutex> l(m_);
    released_ = true;
    cv_.notify_all();
  }
  std::vector<Seen> Requests() {
    std::lock_guard<std::mutex> l(m_);
    return seen_;
  }
  size_t RequestCount() {
    std::lock_guard<std::mutex> l(m_);
    return seen_.size();
  }
  bool Blocked() {
    std::lock_guard<std::mutex> l(m_);
    return blocked_ > 0;
  }

  HttpHandle Open(const std::string& agent, uint32_t access, const std::string* proxy) override {
    std::lock_guard<std::mutex> l(m_);
    Seen s;
    s.agent = agent;
    s.access = access;
    if (proxy) s.proxy = *proxy;
    seen_.push_back(s);
    Handle h;
    h.request = seen_.size() - 1;
    if (!script_.empty()) {
      h.reply = script_.front();
      script_.pop_front();
    } else {
      h.reply = default_;
    }
    if (h.reply.failAt == Reply::Open) return Fail(h.reply.error);
    return NewHandle(h);
  }
  HttpHandle Connect(HttpHandle inet, const std::string& host, uint16_t port, const std::string&,
                     const std::string&) override {
    std::lock_guard<std::mutex> l(m_);
    Handle h = open_.at(inet);
    seen_[h.request].host = host;
    seen_[h.request].port = port;
    if (h.reply.failAt == Reply::Connect) return Fail(h.reply.error);
    return NewHandle(h);
  }
  HttpHandle OpenRequest(HttpHandle conn, const std::string& path, uint32_t) override {
    std::lock_guard<std::mutex> l(m_);
    Handle h = open_.at(conn);
    seen_[h.request].path = path;
    if (h.reply.failAt == Reply::OpenRequest) return Fail(h.reply.error);
    return NewHandle(h);
  }
  bool AddRequestHeaders(HttpHandle req, const std::string& line, uint32_t) override {
    std::lock_guard<std::mutex> l(m_);
    seen_[open_.at(req).request].headers.push_back(line);
    return true;
  }
  bool SendRequest(HttpHandle req) override {
    std::lock_guard<std::mutex> l(m_);
    const Handle& h = open_.at(req);
    if (h.reply.failAt == Reply::Send) return Fail(h.reply.error) != nullptr;
    return true;
  }
  bool QueryInfo(HttpHandle req, uint32_t level, char* buffer, uint32_t* length) override {
    std::lock_guard<std::mutex> l(m_);
    const Handle& h = open_.at(req);
    std::string value;
    if (level == inet::kQueryStatusCode)
      value = std::to_string(h.reply.status);
    else if (level == inet::kQueryContentLength)
      value = std::to_string(h.reply.announced >= 0 ? static_cast<size_t>(h.reply.announced) : h.reply.body.size());
    else
      return Fail(12150) != nullptr;  // ERROR_HTTP_HEADER_NOT_FOUND
    if (!buffer || *length < value.size() + 1) {
      *length = static_cast<uint32_t>(value.size() + 1);
      return Fail(inet::kErrorInsufficientBuffer) != nullptr;
    }
    std::copy(value.begin(), value.end(), buffer);
    buffer[value.size()] = '\0';
    *length = static_cast<uint32_t>(value.size());
    return true;
  }
  bool ReadFile(HttpHandle req, char* buffer, uint32_t size, uint32_t* read) override {
    std::unique_lock<std::mutex> l(m_);
    Handle& h = open_.at(req);
    if (h.reply.block && !released_) {
      ++blocked_;
      cv_.wait(l, [&] { return released_; });
      --blocked_;
    }
    Handle& again = open_.at(req);
    if (again.pos >= again.reply.failReadAt) return Fail(again.reply.error) != nullptr;
    const size_t n = std::min<size_t>({size, again.reply.body.size() - again.pos, again.reply.failReadAt - again.pos});
    std::copy_n(again.reply.body.data() + again.pos, n, buffer);
    again.pos += n;
    *read = static_cast<uint32_t>(n);
    return true;
  }
  void CloseHandle(HttpHandle h) override {
    std::lock_guard<std::mutex> l(m_);
    open_.erase(h);
    cv_.notify_all();
  }
  uint32_t LastError() override { return lastError_; }

 private:
  struct Handle {
    size_t request = 0;
    Reply reply;
    size_t pos = 0;
  };
  HttpHandle NewHandle(const Handle& h) {
    HttpHandle id = reinterpret_cast<HttpHandle>(++next_);
    open_[id] = h;
    return id;
  }
  static HttpHandle Fail(uint32_t error) {
    lastError_ = error;
    return nullptr;
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Reply> script_;
  Reply default_;
  std::vector<Seen> seen_;
  std::map<HttpHandle, Handle> open_;
  uintptr_t next_ = 0;
  bool released_ = false;
  int blocked_ = 0;
  static inline thread_local uint32_t lastError_ = 0;
};

// A zlib stream of `text` without its two header bytes, as the server sends it.
inline std::string CompressedBody(const std::string& text) {
  uLongf n = compressBound(static_cast<uLong>(text.size()));
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(text.data()),
            static_cast<uLong>(text.size()), Z_DEFAULT_COMPRESSION);
  z.resize(n);
  return z.substr(2);
}

// A topic record of a reply: title, path, forum, replies, author.
inline std::string Record(const std::string& title, const std::string& path, const std::string& forum,
                          const std::string& replies, const std::string& author) {
  return title + "\x11" + path + "\x11" + forum + "\x11" + replies + "\x11" + author + "\x11";
}

// A checker over fake ports in a temporary folder of its own, with every
// event it raises written to `events`.
class CheckerTest : public ::testing::Test {
 protected:
  FakeGuiQueue gui;
  ScriptedTransport http;
  FakeRegistry registry;
  FakeSound sound;
  FakeClock clock;
  FakeTimer* timer = nullptr;
  std::filesystem::path dir;
  std::string exePath = "C:\\Program Files\\Zelt Rarazovo\\ZeltInformer.exe";
  std::unique_ptr<TChecker> checker;
  std::vector<std::string> events;

  void SetUp() override {
    std::random_device rd;
    dir = std::filesystem::temp_directory_path() /
          ("zelt-core-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    checker.reset();
    gui.RunPending();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::string ProgramDir() const { return dir.string() + "/"; }
  std::filesystem::path DataPath() const { return dir / "data.dat"; }

  TChecker& Make() {
    auto t = std::make_unique<FakeTimer>();
    timer = t.get();
    checker = std::make_unique<TChecker>(CheckerPorts{gui, http, std::move(t), registry, sound, clock, ProgramDir(), exePath});
    checker->OnStatus = [this](int32_t code) { events.push_back("status " + std::to_string(code)); };
    checker->OnItem = [this](TItemData* item) { events.push_back("item " + item->Title); };
    checker->OnNetError = [this](const std::string& text, uint16_t code) {
      events.push_back("error " + text + std::to_string(code));
    };
    return *checker;
  }

  // Waits until the running request has been handled on the GUI thread and
  // the component is idle again.
  void Settle() {
    const size_t before = events.size();
    ASSERT_TRUE(gui.DrainUntil([&] {
      bool ended = false;
      for (size_t i = before; i < events.size(); ++i)
        ended |= events[i] == "status 2" || events[i].rfind("error ", 0) == 0;
      return ended && !checker->Loader->Busy;
    })) << "the request did not end";
  }

  // One poll through the timer, waited for.
  void TickAndSettle() {
    timer->Tick();
    Settle();
  }

  std::string DataFileBytes() const {
    std::ifstream f(DataPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
};

}  // namespace zelt::testing
