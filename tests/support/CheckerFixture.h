// The one checker fixture: a TChecker over the fakes in a temporary program
// folder. The GUI queue and the poll timer come from the platform binding:
// the test-drained fakes natively, the application object in window tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/SafeFile.h"
#include "core/DataFile.h"
#include "core/uChecker.h"
#include "tests/support/Fakes.h"

namespace zelt::fake {

class CheckerFixture : public ::testing::Test {
 protected:
  virtual IGuiQueue& Gui() = 0;
  virtual std::unique_ptr<IPollTimer> NewTimer() = 0;

  CheckerPorts Ports() {
    return CheckerPorts{Gui(), http, NewTimer(), registry, sound, clock, PathOf(dir.Path()), PathOf(dir.Path() + "ZeltInformer.exe")};
  }
  virtual TChecker& Make() {
    checker = std::make_unique<TChecker>(Ports());
    return *checker;
  }
  void TearDown() override {
    checker.reset();
    // Requests left running end now; none may outlive the transport.
    http.Release();
    EXPECT_TRUE(http.WaitIdle()) << "a request did not end";
  }

  std::string DataBytes() const {
    std::string bytes;
    ReadFileBytes(dir / "data.dat", bytes);
    return bytes;
  }
  // data.dat as the program reads it.
  TDataImage Data() const {
    TDataImage image;
    ParseDataImage(DataBytes(), image);
    return image;
  }
  void WriteData(const TDataImage& image) { ASSERT_TRUE(ReplaceFileBytes(dir / "data.dat", SerializeDataImage(image))); }

  Transport http;
  Registry registry;
  Sound sound;
  Clock clock;
  TempDir dir;
  std::unique_ptr<TChecker> checker;
};

// The binding of the portable tests: the test's own thread is the GUI thread
// and drains the queue; the timer ticks when the test says. Every report of
// the checker lands in `events`.
class CheckerTest : public CheckerFixture {
 protected:
  IGuiQueue& Gui() override { return gui; }
  std::unique_ptr<IPollTimer> NewTimer() override {
    auto t = std::make_unique<Timer>();
    timer = t.get();
    return t;
  }
  TChecker& Make() override {
    CheckerFixture::Make();
    checker->OnStatus = [this](TCheckerStatus status) {
      events.push_back("status " + std::to_string(static_cast<int>(status)));
    };
    checker->OnItem = [this](const TItemData& item) { events.push_back("item " + item.Title); };
    checker->OnNetError = [this](const std::string& text, uint16_t code) {
      events.push_back("error " + text + std::to_string(code));
    };
    return *checker;
  }
  // Waits until the running request has been handled on the GUI thread.
  void Settle() {
    const size_t before = events.size();
    const auto isEnd = [](const std::string& e) { return e == "status 2" || e.rfind("error ", 0) == 0; };
    ASSERT_TRUE(gui.RunUntil([&] {
      return std::any_of(events.begin() + static_cast<long>(before), events.end(), isEnd) && !checker->Request().Busy();
    })) << "the request did not end";
  }
  // Waits, running nothing, until the request has ended and its reply waits
  // in the GUI queue.
  void ReplyWaits() {
    for (int i = 0; i < 4000 && checker->Request().Busy(); ++i) std::this_thread::sleep_for(5ms);
    ASSERT_FALSE(checker->Request().Busy());
  }
  // One poll to its end: the first starts the polling, the next are the timer's.
  void Tick() {
    timer->Enabled() ? timer->Tick() : checker->StartPolling();
    Settle();
  }

  GuiQueue gui;
  Timer* timer = nullptr;
  std::vector<std::string> events;
};

}  // namespace zelt::fake
