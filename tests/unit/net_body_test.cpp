// What reaches the caller of a body that is too long, cut off or overlong:
// the limit and the whole-body rule of the HTTP component.
#include <gtest/gtest.h>

#include "core_fakes.h"
#include "net/HTTPDownload.h"

namespace zelt::testing {
namespace {

struct Outcome {
  std::string body;  // delivered by OnDownloaded
  int error = -1;    // raised by OnError; -1: none
};

Outcome Fetch(const Reply& reply, uint32_t limit, bool whole) {
  FakeGuiQueue gui;
  ScriptedTransport transport;
  transport.Push(reply);
  Outcome out;
  bool ended = false;
  HTTPDownload d(transport, gui);
  d.MaxBodyBytes = limit;
  d.WholeBodyOnly = whole;
  d.OnDownloaded = [&](HTTPDownload&, TMemoryStream& data) {
    out.body = data.Bytes;
    gui.Post([&] { ended = true; });
  };
  d.OnError = [&](HTTPDownload&, uint16_t code) {
    out.error = code;
    gui.Post([&] { ended = true; });
  };
  EXPECT_TRUE(d.Start("http://host/x"));
  EXPECT_TRUE(gui.DrainUntil([&] { return ended && !d.Busy; }));
  // A failed body leaves nothing behind in memory.
  if (out.error >= 0) {
    EXPECT_TRUE(!d.Data || d.Data->Size() == 0);
  }
  return out;
}

TEST(NetBody, LimitsAndWholeness) {
  const std::string k10(10000, 'x');
  Reply plain;
  plain.body = k10;
  Reply unannounced = plain;  // no Content-Length at all: the limit still holds
  unannounced.announced = 0;
  Reply shortBody = plain;
  shortBody.announced = 12000;
  Reply longBody = plain;
  longBody.announced = 5000;
  Reply cut = plain;
  cut.failReadAt = 4096;
  cut.error = 12002;  // timeout part-way
  struct Case {
    const char* what;
    Reply reply;
    uint32_t limit;
    bool whole;
    Outcome expected;
  } cases[] = {
      {"under the limit", plain, 10000, true, {k10, -1}},
      {"announced over the limit", plain, 9999, false, {"", inet::kErrorBodyTooLarge}},
      {"streamed over the limit", unannounced, 9999, false, {"", inet::kErrorBodyTooLarge}},
      {"no limit", unannounced, 0, false, {k10, -1}},
      {"shorter than announced, whole wanted", shortBody, 0, true, {"", inet::kErrorBodyIncomplete}},
      {"shorter than announced, part taken", shortBody, 0, false, {k10, -1}},
      {"longer than announced, whole wanted", longBody, 0, true, {"", inet::kErrorBodyIncomplete}},
      {"read fails part-way, whole wanted", cut, 0, true, {"", 12002}},
      {"read fails part-way, part taken", cut, 0, false, {k10.substr(0, 4096), -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome got = Fetch(c.reply, c.limit, c.whole);
    EXPECT_EQ(got.error, c.expected.error);
    EXPECT_EQ(got.body.size(), c.expected.body.size());
    EXPECT_EQ(got.body, c.expected.body);
  }
}

}  // namespace
}  // namespace zelt::testing
