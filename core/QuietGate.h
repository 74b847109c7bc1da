// Whether the popup and the event sounds may reach the user now. While the
// system reports the user busy (a full-screen game or video, a presentation,
// quiet hours), a popup waits, and its sound with it; everything else (the
// status line, the counters, the polls) goes on. When the state has ended,
// one popup tells what of the waiting news is still new: never one per report
// that came meanwhile. A new-version sound is not played late (the popup's
// update button still tells), nor an error sound (it would tell of a failure
// long past).
//
// The system does not say when the state ends: it is asked again on a short
// timer, only while something waits, and after each poll.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/Ports.h"

namespace zelt {

// What a popup tells.
struct TNews {
  bool Messages = false;  // topics with unread messages
  bool Version = false;   // a newer version of the program
  bool Any() const { return Messages || Version; }
};

class TQuietGate {
 public:
  // How often the state is asked again while a popup waits.
  static constexpr uint32_t kRecheckMs = 10000;

  // `newsNow` tells what is new at the moment: a popup that waited shows
  // only what still is.
  TQuietGate(const INotificationState& state, std::unique_ptr<IPollTimer> recheck, std::function<TNews()> newsNow);
  ~TQuietGate();
  TQuietGate(const TQuietGate&) = delete;
  TQuietGate& operator=(const TQuietGate&) = delete;

  // A report that shows the popup, with its sound: true when it may now
  // (the popup then tells whatever waited as well); false when it waits.
  bool Admit(TNews news);
  // A sound without a popup may play now; it never waits.
  bool SoundAllowed() const { return !state_.UserBusy(); }
  // Asks the state again; once the user may be told, OnRelease gets what of
  // the waiting news is still new (if anything is).
  void Recheck();
  // The popup that waited, with the new-messages sound when `news.Messages`.
  std::function<void(TNews news)> OnRelease;

 private:
  const INotificationState& state_;
  std::unique_ptr<IPollTimer> recheck_;
  std::function<TNews()> newsNow_;
  TNews waiting_;
};

}  // namespace zelt
