// The one set of fakes of the platform ports, shared by the unit, window and
// fuzz code: a GUI queue the test drains, a timer it ticks, a registry map, a
// sound recorder, a fixed clock, the user's busy state, a scripted HTTP
// transport, a temporary folder and the reply bodies the server sends. No
// test framework in here.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/Ports.h"
#include "net/HttpTransport.h"
#ifdef _WIN32
#include "base/Text_win.h"
#endif

namespace zelt::fake {

using namespace std::chrono_literals;

// Names as the program keeps them (cp1251 on Windows) to paths and back.
#ifdef _WIN32
inline std::filesystem::path PathOf(const std::string& name) { return Widen(name); }
inline std::string NameOf(const std::filesystem::path& path) { return Narrow(path.wstring()); }
#else
inline std::filesystem::path PathOf(const std::string& name) { return name; }
inline std::string NameOf(const std::filesystem::path& path) { return path.string(); }
#endif

// A GUI thread that is the test's own: posted and sent tasks wait until the
// test runs them. Send from another thread blocks until then.
class GuiQueue final : public IGuiQueue {
 public:
  // Drops what waits; a waiting Send returns false.
  ~GuiQueue() override {
    std::unique_lock l(m_);
    shut_ = true;
    for (Item& i : q_)
      if (i.sent) *i.sent = -1;
    q_.clear();
    cv_.notify_all();
  }
  void Post(std::function<void()> task) override {
    std::unique_lock l(m_);
    if (!shut_) q_.push_back({std::move(task), nullptr});
    cv_.notify_all();
  }
  bool Send(std::function<void()> task) override {
    if (IsGuiThread()) {
      task();
      return true;
    }
    auto done = std::make_shared<int>(0);  // 1 ran, -1 dropped
    std::unique_lock l(m_);
    if (shut_) return false;
    q_.push_back({std::move(task), done});
    cv_.notify_all();
    cv_.wait(l, [&] { return *done != 0; });
    return *done > 0;
  }
  bool IsGuiThread() const override { return std::this_thread::get_id() == gui_; }

  // Runs every queued task, also those queued meanwhile; how many ran.
  size_t RunPending() {
    size_t n = 0;
    while (RunOne(0ms)) ++n;
    return n;
  }
  // Runs tasks as they come until done() holds; the limit only ends a hang.
  bool RunUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      RunOne(5ms);
    }
    return true;
  }
  // Waits, running nothing, until another thread has sent a task.
  bool WaitForSend() {
    std::unique_lock l(m_);
    return cv_.wait_for(l, 20s, [&] { return std::any_of(q_.begin(), q_.end(), [](auto& i) { return !!i.sent; }); });
  }

 private:
  struct Item {
    std::function<void()> task;
    std::shared_ptr<int> sent;
  };
  bool RunOne(std::chrono::milliseconds wait) {
    std::unique_lock l(m_);
    if (!cv_.wait_for(l, wait, [&] { return !q_.empty(); })) return false;
    Item item = std::move(q_.front());
    q_.pop_front();
    l.unlock();
    item.task();
    l.lock();
    if (item.sent) *item.sent = 1;
    cv_.notify_all();
    return true;
  }
  const std::thread::id gui_ = std::this_thread::get_id();
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Item> q_;
  bool shut_ = false;
};

// Ticks when the test says. As the real timer, it starts its countdown
// afresh when enabled and at every new interval while enabled.
class Timer final : public IPollTimer {
 public:
  void SetInterval(uint32_t ms) override {
    interval_ = ms;
    if (enabled_) ++armed_;
  }
  // The interval it runs at now.
  uint32_t Interval() const { return interval_; }
  void SetEnabled(bool enabled) override {
    if (enabled && !enabled_) ++armed_;
    enabled_ = enabled;
  }
  bool Enabled() const override { return enabled_; }
  void SetOnTick(std::function<void()> tick) override { tick_ = std::move(tick); }
  void Tick() {
    if (enabled_ && tick_) tick_();
  }
  // How often the countdown has started.
  size_t Armed() const { return armed_; }

 private:
  uint32_t interval_ = 0;
  bool enabled_ = false;
  size_t armed_ = 0;
  std::function<void()> tick_;
};

// Values by "key\name"; the Run key exists, like on every Windows.
class Registry final : public IRegistry {
 public:
  std::set<std::string> Keys = {"Software\\Microsoft\\Windows\\CurrentVersion\\Run"};
  std::map<std::string, std::string> Values;  // cp1251 on Windows
  bool WriteString(const std::string& key, const std::string& name, const std::wstring& value, bool create) override {
    if (!Keys.count(key) && !(create && Keys.insert(key).second)) return false;
    Values[key + "\\" + name] = NameOf(value);
    return true;
  }
  bool DeleteValue(const std::string& key, const std::string& name) override {
    return Keys.count(key) && Values.erase(key + "\\" + name) > 0;
  }
};

// Plays nothing: remembers what was played and what still plays.
class Sound final : public ISoundPlayer {
 public:
  std::vector<std::string> Played;  // in play order
  void Stop() override { playing_ = false; }
  void Close() override { playing_ = false; open_.clear(); }
  bool SetFileName(const std::string& path) override { return !(open_ = path).empty(); }
  void Play() override {
    if (!open_.empty()) Played.push_back(open_);
    playing_ = !open_.empty();
  }
  // The file playing now, or "".
  std::string Playing() const { return playing_ ? open_ : ""; }

 private:
  std::string open_;
  bool playing_ = false;
};

class Clock final : public IClock {
 public:
  double Time = 739955.875;  // 05-12-2026, 21:00
  double Now() const override { return Time; }
};

// The user's state as the test sets it.
class NotificationState final : public INotificationState {
 public:
  bool Busy = false;
  bool UserBusy() const override { return Busy; }
};

// The calls of a request, in the order they are made.
enum class Step { None, Open, Connect, OpenRequest, AddHeader, Send, Headers, Status, Length, Read };

// One answer of the scripted network. Steps may fail with `error` or wait
// until the test releases them (or a handle of the request is closed); for
// Read, once `after` body bytes have gone. Each read takes `readMs` on the
// transport's clock.
struct Reply {
  int status = 200;
  std::string body;
  bool announce = true;    // Content-Length is sent
  std::string lengthText;  // its value when not the body's size
  Step failAt = Step::None;
  uint32_t error = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
  Step holdAt = Step::None;
  size_t after = 0;
  size_t chunk = 0;  // at most this many bytes per read (0: as many as asked)
  uint32_t readMs = 0;
};

// What one request asked for and how far it got.
struct Request {
  std::string agent, proxy, host, user, password, path;
  uint32_t access = 0, flags = 0;
  uint16_t port = 0;
  std::vector<std::string> headers;
  bool sent = false;
  size_t bytes = 0;  // body bytes handed out
};

// WinInet as a script: replies by path (Serve) or in order (Push), else the
// default. Thread-safe; must outlive every request made on it.
class Transport final : public IHttpTransport {
 public:
  ~Transport() override {
    Release();
    WaitIdle();
  }
  void Push(Reply r) { std::unique_lock l(m_); queue_.push_back(std::move(r)); }
  void Serve(const std::string& path, Reply r) { std::unique_lock l(m_); served_[path] = std::move(r); }
  void SetDefault(Reply r) { std::unique_lock l(m_); default_ = std::move(r); }
  // Lets held requests (of the path, or all) go on, and those held later.
  void Release(const std::string& path = {}) {
    std::unique_lock l(m_);
    if (path.empty()) releaseAll_ = true;
    released_.insert(path);
    cv_.notify_all();
  }
  // Forgets replies, releases and the request record; call while idle.
  void Reset() {
    std::unique_lock l(m_);
    queue_.clear();
    served_.clear();
    released_.clear();
    requests_.clear();
    releaseAll_ = false;
  }
  bool Held(const std::string& path = {}) { std::unique_lock l(m_); return IsHeld(path); }
  bool WaitHeld(const std::string& path = {}) {
    std::unique_lock l(m_);
    return cv_.wait_for(l, 20s, [&] { return IsHeld(path); });
  }
  // True once no handle is open (every request has ended its network part).
  bool WaitIdle() {
    std::unique_lock l(m_);
    return cv_.wait_for(l, 20s, [&] { return open_ == 0; });
  }
  int OpenHandles() { std::unique_lock l(m_); return open_; }
  size_t RequestCount() { std::unique_lock l(m_); return requests_.size(); }
  std::vector<Request> Requests() {
    std::unique_lock l(m_);
    std::vector<Request> out;
    for (const Live& r : requests_) out.push_back(r.seen);
    return out;
  }

  HttpHandle Open(const std::string& agent, uint32_t access, const std::string* proxy) override {
    std::unique_lock l(m_);
    Live& r = requests_.emplace_back();
    r.seen.agent = agent;
    r.seen.access = access;
    if (proxy) r.seen.proxy = *proxy;
    r.reply = queue_.empty() ? default_ : queue_.front();
    if (!queue_.empty()) queue_.pop_front();
    return Pass(l, r, Step::Open) ? NewHandle(r) : nullptr;
  }
  HttpHandle Connect(HttpHandle inet, const std::string& host, uint16_t port, const std::string& user,
                     const std::string& password) override {
    std::unique_lock l(m_);
    Live& r = Of(inet);
    r.seen.host = host;
    r.seen.port = port;
    r.seen.user = user;
    r.seen.password = password;
    return Pass(l, r, Step::Connect) ? NewHandle(r) : nullptr;
  }
  HttpHandle OpenRequest(HttpHandle conn, const std::string& path, uint32_t flags) override {
    std::unique_lock l(m_);
    Live& r = Of(conn);
    r.seen.path = path;
    r.seen.flags = flags;
    if (auto it = served_.find(path); it != served_.end()) r.reply = it->second;
    return Pass(l, r, Step::OpenRequest) ? NewHandle(r) : nullptr;
  }
  bool AddRequestHeaders(HttpHandle req, const std::string& line, uint32_t) override {
    std::unique_lock l(m_);
    Live& r = Of(req);
    r.seen.headers.push_back(line);
    return Pass(l, r, Step::AddHeader);
  }
  bool SendRequest(HttpHandle req) override {
    std::unique_lock l(m_);
    Live& r = Of(req);
    if (!Pass(l, r, Step::Send)) return false;
    r.seen.sent = true;
    return true;
  }
  bool QueryInfo(HttpHandle req, uint32_t level, char* buffer, uint32_t* length) override {
    std::unique_lock l(m_);
    Live& r = Of(req);
    const Reply& p = r.reply;
    const std::string size = p.lengthText.empty() ? std::to_string(p.body.size()) : p.lengthText;
    std::string value;
    if (level == inet::kQueryRawHeadersCrlf) {
      if (!buffer && !Pass(l, r, Step::Headers)) return false;
      value = "HTTP/1.1 " + std::to_string(p.status) + " X\r\n" + (p.announce ? "Content-Length: " + size + "\r\n" : "") +
              "\r\n";
    } else if (level == inet::kQueryStatusCode) {
      if (!Pass(l, r, Step::Status)) return false;
      value = std::to_string(p.status);
    } else if (level == inet::kQueryContentLength) {
      if (!Pass(l, r, Step::Length)) return false;
      if (!p.announce) return Fail(12150);  // ERROR_HTTP_HEADER_NOT_FOUND
      value = size;
    } else {
      return Fail(12150);
    }
    // As HttpQueryInfoA: with the terminating zero, or the size it needs.
    if (!buffer || *length < value.size() + 1) {
      *length = static_cast<uint32_t>(value.size() + 1);
      return Fail(inet::kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<uint32_t>(value.size());
    return true;
  }
  bool ReadFile(HttpHandle req, char* buffer, uint32_t size, uint32_t* read) override {
    std::unique_lock l(m_);
    Live& r = Of(req);
    const Reply& p = r.reply;
    *read = 0;
    const bool at = r.seen.bytes >= p.after;
    if (p.holdAt == Step::Read && at && !r.heldRead) {
      r.heldRead = true;
      Hold(l, r);
    }
    if (r.closed) return Fail(kCancelled);
    if (p.failAt == Step::Read && at) return Fail(p.error);
    size_t n = std::min<size_t>(size, p.body.size() - r.seen.bytes);
    if (p.chunk) n = std::min(n, p.chunk);
    const bool stopsEarly = (p.holdAt == Step::Read && !r.heldRead) || p.failAt == Step::Read;
    if (stopsEarly) n = std::min(n, p.after - r.seen.bytes);
    std::memcpy(buffer, p.body.data() + r.seen.bytes, n);
    r.seen.bytes += n;
    *read = static_cast<uint32_t>(n);
    nowMs_ += p.readMs;
    return true;
  }
  // Closing any handle of a request cancels what it waits for, as WinInet's
  // InternetCloseHandle does, and whatever it calls later.
  void CloseHandle(HttpHandle h) override {
    std::unique_lock l(m_);
    auto* handle = static_cast<Handle*>(h);
    if (handle->closed) return;  // a second close would show in OpenHandles
    handle->closed = true;
    handle->request->closed = true;
    --open_;
    cv_.notify_all();
  }
  uint32_t LastError() override { return lastError_; }
  // A clock that stands still but for every read's readMs and Advance.
  uint64_t NowMs() override { std::unique_lock l(m_); return nowMs_; }
  void Advance(uint32_t ms) { std::unique_lock l(m_); nowMs_ += ms; }

 private:
  struct Live {
    Request seen;
    Reply reply;
    bool heldRead = false;
    bool closed = false;  // a handle of it has been closed
  };
  struct Handle {
    Live* request;
    bool closed = false;
  };
  bool IsHeld(const std::string& path) const { return path.empty() ? !held_.empty() : held_.count(path) > 0; }
  Live& Of(HttpHandle h) { return *static_cast<Handle*>(h)->request; }
  HttpHandle NewHandle(Live& r) {
    ++open_;
    return &handles_.emplace_back(Handle{&r});
  }
  // Holds the step when scripted; false (with the error set) when it fails.
  bool Pass(std::unique_lock<std::mutex>& l, Live& r, Step step) {
    if (r.reply.holdAt == step) Hold(l, r);
    if (r.closed) return Fail(kCancelled);
    return r.reply.failAt == step ? Fail(r.reply.error) : true;
  }
  void Hold(std::unique_lock<std::mutex>& l, Live& r) {
    const std::string path = r.seen.path;
    held_.insert(path);
    cv_.notify_all();
    cv_.wait_for(l, 30s, [&] { return releaseAll_ || released_.count(path) > 0 || r.closed; });
    held_.erase(held_.find(path));
  }
  static constexpr uint32_t kCancelled = 12017;  // ERROR_INTERNET_OPERATION_CANCELLED
  static bool Fail(uint32_t error) {
    lastError_ = error;
    return false;
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Reply> queue_;
  std::map<std::string, Reply> served_;
  Reply default_;
  std::deque<Live> requests_;
  std::deque<Handle> handles_;
  std::multiset<std::string> held_;
  std::set<std::string> released_;
  bool releaseAll_ = false;
  int open_ = 0;
  uint64_t nowMs_ = 1000000;
  static inline thread_local uint32_t lastError_ = 0;
};

// A new empty folder below the system's temporary folder, removed with its
// contents at the end. Path() ends in the platform's separator and is cp1251
// on Windows (the name may hold Cyrillic).
class TempDir {
 public:
  explicit TempDir(const std::string& name = "zelt-test") {
    std::random_device rd;
    const std::string unique = name + "-" + std::to_string(rd()) + std::to_string(rd());
    dir_ = std::filesystem::temp_directory_path() / PathOf(unique);
    path_ = NameOf(dir_) + static_cast<char>(std::filesystem::path::preferred_separator);
    std::filesystem::create_directories(dir_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return dir_ / PathOf(name); }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

// A zlib stream of `text` without its two header bytes, as the server sends it.
inline std::string CompressedBody(const std::string& text, int level = Z_DEFAULT_COMPRESSION) {
  uLongf n = compressBound(static_cast<uLong>(text.size()));
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(text.data()),
            static_cast<uLong>(text.size()), level);
  z.resize(n);
  return z.substr(2);
}

struct Topic {
  std::string title, path, forum, replies, author;
};

// The text of a topic reply: the version flag, then five fields per topic,
// each ended by the byte 0x11.
inline std::string ReplyText(bool newVersion, const std::vector<Topic>& topics) {
  std::string t = newVersion ? "1" : "0";
  for (const Topic& p : topics)
    for (const std::string* f : {&p.title, &p.path, &p.forum, &p.replies, &p.author}) t += *f + '\x11';
  return t;
}

}  // namespace zelt::fake
