// What reaches the caller of a body that is too long, cut off or overlong:
// the limit and the whole-body rule of the HTTP component.
#include <gtest/gtest.h>

#include "net/HTTPDownload.h"
#include "tests/support/Fakes.h"

namespace zelt::fake {
namespace {

struct Outcome {
  std::string body;  // delivered by OnDownloaded
  int error = -1;    // raised by OnError; -1: none
};

Outcome Fetch(const Reply& reply, uint32_t limit, bool whole) {
  GuiQueue gui;
  Transport transport;
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
  EXPECT_TRUE(gui.RunUntil([&] { return ended && !d.Busy; }));
  // A failed body leaves nothing behind in memory.
  if (out.error >= 0) {
    EXPECT_TRUE(!d.Data || d.Data->Size() == 0);
  }
  return out;
}

TEST(NetBody, LimitsAndWholeness) {
  const std::string k10(10000, 'x');
  const Reply plain{.body = k10}, unannounced{.body = k10, .announce = false},  // the limit still holds
      shortBody{.body = k10, .lengthText = "12000"}, longBody{.body = k10, .lengthText = "5000"},
      cut{.body = k10, .failAt = Step::Read, .error = 12002, .after = 4096};  // a timeout part-way
  const struct {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome got = Fetch(c.reply, c.limit, c.whole);
    EXPECT_EQ(got.error, c.expected.error);
    EXPECT_EQ(got.body.size(), c.expected.body.size());
    EXPECT_EQ(got.body, c.expected.body);
  }
}

}  // namespace
}  // namespace zelt::fake
