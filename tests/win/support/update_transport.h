// A scripted stand-in for WinInet in the update windows' tests: replies by
// path, with or without Content-Length, and requests that wait at a chosen
// point (before the answer, or after some body bytes) until the test lets
// them go on. It records what each request asked for.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "net/HttpTransport.h"

namespace zelt::updatetest {

struct FakeReply {
  int status = 200;
  std::string body;
  bool announceLength = true;  // send Content-Length
  std::string lengthText;      // the Content-Length value when not the body's size
  bool holdAnswer = false;     // the request waits before its answer until released
  size_t holdAfter = SIZE_MAX;  // the body waits after this many bytes until released
};

class ScriptedTransport final : public IHttpTransport {
 public:
  struct Seen {
    std::string agent;
    uint32_t access = 0;
    std::string proxy;
    std::string host;
    uint16_t port = 0;
    std::string path;
    uint32_t flags = 0;
    std::vector<std::string> headers;
  };

  // Forgets the replies, holds and counts; call while no request is open.
  void Reset() {
    std::lock_guard<std::mutex> l(m_);
    replies_.clear();
    released_.clear();
    held_.clear();
    releaseAll_ = false;
    ended_.clear();
    sent_.clear();
  }
  void Serve(const std::string& path, FakeReply reply) {
    std::lock_guard<std::mutex> l(m_);
    replies_[path] = std::move(reply);
  }
  // Lets the held requests of a path go on (and those that come later).
  void Release(const std::string& path) {
    {
      std::lock_guard<std::mutex> l(m_);
      released_.insert(path);
    }
    cv_.notify_all();
  }
  void ReleaseAll() {
    {
      std::lock_guard<std::mutex> l(m_);
      releaseAll_ = true;
    }
    cv_.notify_all();
  }
  // True once a request of the path is waiting at its hold point.
  bool Held(const std::string& path) {
    std::lock_guard<std::mutex> l(m_);
    return held_.count(path) > 0;
  }
  // Waits until `n` requests of the path have ended (their handles closed).
  bool WaitEnded(const std::string& path, int n, int ms = 10000) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, std::chrono::milliseconds(ms), [&] { return ended_[path] >= n; });
  }
  // Waits until no request is open any more.
  bool WaitIdle(int ms = 10000) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, std::chrono::milliseconds(ms), [&] { return open_ == 0; });
  }
  int Ended(const std::string& path) {
    std::lock_guard<std::mutex> l(m_);
    return ended_[path];
  }
  std::vector<Seen> Requests() {
    std::lock_guard<std::mutex> l(m_);
    std::vector<Seen> v;
    for (const Req& r : log_) v.push_back(r.seen);
    return v;
  }
  // Body bytes handed out for the path, over all its requests.
  size_t BytesSent(const std::string& path) {
    std::lock_guard<std::mutex> l(m_);
    return sent_[path];
  }

  HttpHandle Open(const std::string& agent, uint32_t access, const std::string* proxy) override {
    std::lock_guard<std::mutex> l(m_);
    inets_.push_back(Inet{agent, access, proxy ? *proxy : std::string()});
    ++open_;
    return &inets_.back();
  }
  HttpHandle Connect(HttpHandle inet, const std::string& host, uint16_t port, const std::string&,
                     const std::string&) override {
    std::lock_guard<std::mutex> l(m_);
    conns_.push_back(Conn{static_cast<Inet*>(inet), host, port});
    return &conns_.back();
  }
  HttpHandle OpenRequest(HttpHandle conn, const std::string& path, uint32_t flags) override {
    std::lock_guard<std::mutex> l(m_);
    auto* c = static_cast<Conn*>(conn);
    Req r;
    r.seen = Seen{c->inet->agent, c->inet->access, c->inet->proxy, c->host, c->port, path, flags, {}};
    auto it = replies_.find(path);
    if (it != replies_.end()) {
      r.reply = it->second;
    } else {
      r.reply.status = 404;
    }
    log_.push_back(r);
    return &log_.back();
  }
  bool AddRequestHeaders(HttpHandle req, const std::string& line, uint32_t) override {
    std::lock_guard<std::mutex> l(m_);
    static_cast<Req*>(req)->seen.headers.push_back(line);
    return true;
  }
  bool SendRequest(HttpHandle req) override {
    auto* r = static_cast<Req*>(req);
    if (r->reply.holdAnswer) Wait(r->seen.path);
    return true;
  }
  bool QueryInfo(HttpHandle req, uint32_t level, char* buffer, uint32_t* length) override {
    auto* r = static_cast<Req*>(req);
    std::string value;
    if (level == inet::kQueryStatusCode) {
      value = std::to_string(r->reply.status);
    } else if (level == inet::kQueryContentLength) {
      if (!r->reply.announceLength) return Fail(12150);  // ERROR_HTTP_HEADER_NOT_FOUND
      value = r->reply.lengthText.empty() ? std::to_string(r->reply.body.size()) : r->reply.lengthText;
    } else if (level == inet::kQueryRawHeadersCrlf) {
      value = "HTTP/1.1 " + std::to_string(r->reply.status) + " X\r\n";
      if (r->reply.announceLength)
        value += "Content-Length: " +
                 (r->reply.lengthText.empty() ? std::to_string(r->reply.body.size()) : r->reply.lengthText) + "\r\n";
      value += "\r\n";
    } else {
      return Fail(12150);
    }
    if (!buffer || *length < value.size() + 1) {
      *length = static_cast<uint32_t>(value.size() + 1);
      return Fail(inet::kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<uint32_t>(value.size());
    return true;
  }
  bool ReadFile(HttpHandle req, char* buffer, uint32_t size, uint32_t* read) override {
    auto* r = static_cast<Req*>(req);
    if (r->pos >= r->reply.holdAfter && !r->heldOnce) {
      r->heldOnce = true;
      Wait(r->seen.path);
    }
    size_t n = std::min<size_t>(size, r->reply.body.size() - r->pos);
    if (r->pos < r->reply.holdAfter) n = std::min(n, r->reply.holdAfter - r->pos);
    std::memcpy(buffer, r->reply.body.data() + r->pos, n);
    r->pos += n;
    *read = static_cast<uint32_t>(n);
    std::lock_guard<std::mutex> l(m_);
    sent_[r->seen.path] += n;
    return true;
  }
  void CloseHandle(HttpHandle h) override {
    {
      std::lock_guard<std::mutex> l(m_);
      for (Req& r : log_) {
        if (&r == h) ++ended_[r.seen.path];
      }
      for (Inet& i : inets_) {
        if (&i == h) --open_;
      }
    }
    cv_.notify_all();
  }
  uint32_t LastError() override { return lastError_; }

 private:
  struct Inet {
    std::string agent;
    uint32_t access;
    std::string proxy;
  };
  struct Conn {
    Inet* inet;
    std::string host;
    uint16_t port;
  };
  struct Req {
    Seen seen;
    FakeReply reply;
    size_t pos = 0;
    bool heldOnce = false;
  };

  bool Fail(uint32_t code) {
    lastError_ = code;
    return false;
  }
  void Wait(const std::string& path) {
    std::unique_lock<std::mutex> l(m_);
    held_.insert(path);
    cv_.notify_all();
    // Bounded: a test that forgets to release fails instead of hanging.
    cv_.wait_for(l, std::chrono::seconds(30), [&] { return releaseAll_ || released_.count(path) > 0; });
    held_.erase(path);
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::map<std::string, FakeReply> replies_;
  std::set<std::string> released_;
  std::set<std::string> held_;
  bool releaseAll_ = false;
  std::list<Inet> inets_;
  std::list<Conn> conns_;
  std::list<Req> log_;
  std::map<std::string, int> ended_;
  std::map<std::string, size_t> sent_;
  int open_ = 0;
  static inline thread_local uint32_t lastError_ = 0;
};

}  // namespace zelt::updatetest
