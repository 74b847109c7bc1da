// Inert ports for harnesses that build a checker but never reach a network,
// a window or a registry.
#pragma once

#include <string>

#include "base/Ports.h"
#include "net/HttpTransport.h"

namespace zelt::fuzzing {

class NullGui final : public IGuiQueue {
 public:
  void Post(std::function<void()>) override {}
  bool Send(std::function<void()> task) override {
    task();
    return true;
  }
  bool IsGuiThread() const override { return true; }
};

class NullTimer final : public IPollTimer {
 public:
  void SetInterval(uint32_t ms) override { interval_ = ms; }
  uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool e) override { enabled_ = e; }
  bool Enabled() const override { return enabled_; }
  void SetOnTick(std::function<void()>) override {}

 private:
  uint32_t interval_ = 0;
  bool enabled_ = false;
};

class NullRegistry final : public IRegistry {
 public:
  bool WriteString(const std::string&, const std::string&, const std::wstring&, bool) override { return false; }
  bool DeleteValue(const std::string&, const std::string&) override { return false; }
};

class NullSound final : public ISoundPlayer {
 public:
  void Stop() override {}
  void Close() override {}
  bool SetFileName(const std::string&) override { return false; }
  void Play() override {}
};

class FixedClock final : public IClock {
 public:
  double Now() const override { return 739955.5; }
};

class NullTransport final : public IHttpTransport {
 public:
  HttpHandle Open(const std::string&, uint32_t, const std::string*) override { return nullptr; }
  HttpHandle Connect(HttpHandle, const std::string&, uint16_t, const std::string&, const std::string&) override {
    return nullptr;
  }
  HttpHandle OpenRequest(HttpHandle, const std::string&, uint32_t) override { return nullptr; }
  bool AddRequestHeaders(HttpHandle, const std::string&, uint32_t) override { return false; }
  bool SendRequest(HttpHandle) override { return false; }
  bool QueryInfo(HttpHandle, uint32_t, char*, uint32_t*) override { return false; }
  bool ReadFile(HttpHandle, char*, uint32_t, uint32_t* read) override {
    *read = 0;
    return false;
  }
  void CloseHandle(HttpHandle) override {}
  uint32_t LastError() override { return 12029; }
};

}  // namespace zelt::fuzzing
