// TGuiRequest over the scripted network: its owner hears the events in order
// on the GUI thread, and nothing of a request once it has been stopped,
// replaced or its owner destroyed, wherever the request is at that moment.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "net/GuiRequest.h"
#include "tests/support/Fakes.h"

namespace zelt {
namespace {

using fake::Reply;
using fake::Step;

enum class TAct { None, Stop, Restart, Destroy, Abandon };
// Where the request is when the act comes: held in its send, held in its
// body, or ended with all its events still waiting in the GUI queue (then
// nothing asks for progress, which would wait for the GUI thread).
enum class TAt { Send, Read, Queued };

TEST(GuiRequest, EventsRunInOrderOnTheGuiThreadAndNoneAfterStopRestartOrDestruction) {
  const Reply body{.body = "hello", .chunk = 3}, heldSend{.holdAt = Step::Send},
      heldRead{.body = "hello", .holdAt = Step::Read, .after = 3, .chunk = 3};
  const std::string ok = "Headers HTTP/1.1 200 X", second = "Downloaded second";
  const struct {
    const char* name;
    Reply reply;
    TAt at;
    TAct act;
    std::vector<std::string> heard;
    TRequestLimits limits = {};
  } cases[] = {
      {"a body", body, TAt::Queued, TAct::None, {ok, "Size 5", "Downloaded hello"}},
      {"the size only", body, TAt::Queued, TAct::None, {ok, "Size 5"}, {.SizeOnly = true}},
      {"stopped in its body", heldRead, TAt::Read, TAct::Stop, {ok, "Size 5", "Progress 3/5"}},
      {"stopped with its events queued", body, TAt::Queued, TAct::Stop, {}},
      {"replaced in its body", heldRead, TAt::Read, TAct::Restart, {ok, "Size 5", "Progress 3/5", second}},
      {"replaced with its events queued", body, TAt::Queued, TAct::Restart, {second}},
      {"destroyed in its send", heldSend, TAt::Send, TAct::Destroy, {}},
      {"destroyed with its events queued", body, TAt::Queued, TAct::Destroy, {}},
      {"abandoned with its events queued", body, TAt::Queued, TAct::Abandon,
       {ok, "Size 5", "Downloaded hello", second}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::GuiQueue gui;
    fake::Transport http;
    http.Push(c.reply);
    http.Push({.body = "second"});
    std::vector<std::string> heard;
    auto hear = [&](const std::string& what) {
      heard.push_back(what + (gui.IsGuiThread() ? "" : " off the GUI thread"));
    };
    TRequestEvents events{.Downloaded = [&](std::string b) { hear("Downloaded " + b); },
                          .Failed = [&](uint16_t code) { hear("Failed " + std::to_string(code)); },
                          .Size = [&](int32_t size) { hear("Size " + std::to_string(size)); },
                          .Headers = [&](const std::vector<std::string>& lines) { hear("Headers " + lines.at(0)); }};
    if (c.at != TAt::Queued)
      events.Progress = [&](int32_t done, int32_t total) {
        hear("Progress " + std::to_string(done) + "/" + std::to_string(total));
      };
    const TRequestOptions options{.UserAgent = "agent", .ProxyServer = "proxy", .ProxyPort = 8080, .Limits = c.limits};
    auto request = std::make_unique<TGuiRequest>(http, gui);
    ASSERT_TRUE(request->Start("http://host/first", options, events));
    if (c.at == TAt::Queued) {
      for (int i = 0; i < 4000 && request->Busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      EXPECT_TRUE(!request->Busy() && request->Pending()) << "ended, its outcome waiting in the queue";
    } else {
      ASSERT_TRUE(gui.RunUntil([&] { return http.Held(); }));
    }
    if (c.act == TAct::Stop || c.act == TAct::Abandon) {
      c.act == TAct::Stop ? request->Stop() : request->Abandon();
      EXPECT_FALSE(request->Pending());
    }
    if (c.act == TAct::Restart || c.act == TAct::Abandon) {
      ASSERT_TRUE(request->Start("http://host/second", options, {.Downloaded = events.Downloaded}));
    }
    if (c.act == TAct::Destroy) request.reset();
    http.Release();
    ASSERT_TRUE(gui.RunUntil([&] { return (!request || !request->Pending()) && http.OpenHandles() == 0; }));
    gui.RunPending();
    EXPECT_EQ(heard, c.heard);
    const fake::Request first = http.Requests().at(0);
    EXPECT_EQ(first.agent + " " + first.proxy, "agent http=proxy:8080") << "the options, whole";
  }
}

}  // namespace
}  // namespace zelt
