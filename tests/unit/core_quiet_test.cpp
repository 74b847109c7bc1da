// The popup and its sound while the user presents: they wait, and when the
// state ends one popup tells what is still new.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/QuietGate.h"
#include "tests/support/Fakes.h"

namespace zelt::fake {
namespace {

TEST(QuietGate, APopupWaitsWhileTheUserIsBusyAndOneTellsWhatIsStillNewAfterwards) {
  NotificationState state;
  auto owned = std::make_unique<Timer>();
  Timer& timer = *owned;
  TNews now{true, true};  // what is new at the moment
  TQuietGate gate(state, std::move(owned), [&] { return now; });
  std::vector<std::string> popups;  // each release: "m" for messages (with their sound), "v" for the version
  gate.OnRelease = [&](TNews n) { popups.push_back(std::string(n.Messages ? "m" : "") + (n.Version ? "v" : "")); };

  // Each step: what happens; then whether a report was let through (for
  // "messages" and "version"), the releases so far, and whether the state
  // is being asked again.
  const struct {
    std::string what;
    bool shown;
    std::vector<std::string> popups;
    bool rechecking;
  } steps[] = {
      {"messages", true, {}, false},
      {"busy", false, {}, false},
      {"messages", false, {}, true},
      {"version", false, {}, true},
      {"messages", false, {}, true},  // still one popup waiting
      {"tick", false, {}, true},      // still busy
      {"free", false, {}, true},
      {"tick", false, {"mv"}, false},  // one popup for all three reports
      {"busy", false, {"mv"}, false},
      {"messages", false, {"mv"}, true},
      {"read", false, {"mv"}, true},  // the user read them meanwhile
      {"free", false, {"mv"}, true},
      {"poll", false, {"mv"}, false},  // nothing still new: no popup
      {"busy", false, {"mv"}, false},
      {"version", false, {"mv"}, true},
      {"free", false, {"mv"}, true},
      {"messages", true, {"mv"}, false},  // shown now: it tells the version too
      {"busy", false, {"mv"}, false},
      {"messages", false, {"mv"}, true},
      {"unread", false, {"mv"}, true},
      {"free", false, {"mv"}, true},
      {"poll", false, {"mv", "m"}, false},  // after a poll as well
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    bool shown = false;
    if (s.what == "busy" || s.what == "free") state.Busy = s.what == "busy";
    if (s.what == "read" || s.what == "unread") now.Messages = s.what == "unread";
    if (s.what == "messages" || s.what == "version") shown = gate.Admit({s.what == "messages", s.what == "version"});
    if (s.what == "tick") timer.Tick();
    if (s.what == "poll") gate.Recheck();
    EXPECT_EQ(shown, s.shown);
    EXPECT_EQ(popups, s.popups);
    EXPECT_EQ(timer.Enabled(), s.rechecking);
  }
}

}  // namespace
}  // namespace zelt::fake
