// When the checker polls: the interval's ticks, the periodic-save minutes,
// and the machine around the program (sleep, resume, network changes). The
// timer does the waiting: a catch-up or retry runs it once after a short
// delay, and its tick puts the interval back (which restarts it from that
// poll) before it asks for the poll.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/Ports.h"

namespace zelt {

// Settling after a resume or a network change, before the catch-up poll.
inline constexpr uint32_t kCatchUpDelayMs = 3000;
// The first retry of a failed catch-up poll; each next one waits twice as long.
inline constexpr uint32_t kFirstRetryMs = 5000;
// The interval of a new scheduler, until the loaded one is set.
inline constexpr uint32_t kInitialIntervalMs = 60000;

// What a tick asks for.
enum class TTickKind {
  Interval,  // the interval's poll: its minutes count toward the periodic save
  CatchUp,   // a catch-up's or a retry's poll: it replaces any request still out
};

class TPollScheduler {
 public:
  // The timer is stopped until Start; each tick that asks for a poll calls `poll`.
  TPollScheduler(std::unique_ptr<IPollTimer> timer, std::function<void(TTickKind kind)> poll);
  ~TPollScheduler();
  TPollScheduler(const TPollScheduler&) = delete;
  TPollScheduler& operator=(const TPollScheduler&) = delete;

  // The interval the timer runs at. Set when the settings are loaded only: a
  // changed setting reaches the timer at the next start of the program.
  void SetInterval(uint32_t ms);
  // Starts the timer. Calling it again does not restart the interval.
  void Start();
  // Stops the timer for good: no tick asks for anything any more.
  void Stop();

  // Adds a poll's minutes (the interval setting's, as it is now) toward the
  // periodic save; true when an hour is full and data.dat is due.
  bool CountPollMinutes(int32_t intervalSettingMs);

  // The machine woke up or regained its network: poll once after a few
  // seconds of settling and restart the interval from there. Events close
  // together give one poll. A failing catch-up poll is retried at growing
  // delays, up to the interval, until a reply comes; of the failures from the
  // event to that reply only the first is reported aloud.
  void CatchUp();
  // The machine is going to sleep: no request starts until CatchUp, or
  // until the next tick of the timer, which goes on as CatchUp would:
  // anyone can announce a sleep, and a resume may get lost.
  void Suspend() { suspended_ = true; }
  bool Suspended() const { return suspended_; }

  // A poll's outcome: a reply ends the outage; a failure may schedule a
  // retry and returns whether it is to be quiet (QuietError).
  void Replied();
  bool Failed();
  // True while the failure being reported should make no sound: it belongs
  // to an outage that has been reported already, or a catch-up poll is about
  // to tell how things stand.
  bool QuietError() const { return quietError_; }

 private:
  void Tick();
  // Runs the timer once after `ms`, then at the interval again.
  void ArmShort(uint32_t ms, bool catchUp);
  void DisarmShort();
  void RetryLater();

  std::unique_ptr<IPollTimer> timer_;
  std::function<void(TTickKind kind)> poll_;
  uint32_t intervalMs_ = kInitialIntervalMs;
  int32_t minutesSinceSave_ = 0;
  bool suspended_ = false;
  bool shortPending_ = false;    // the timer runs a catch-up or retry delay
  bool catchUpPending_ = false;  // ... and it is the settling of a CatchUp
  bool recovering_ = false;      // from a CatchUp until a reply
  bool errorSounded_ = false;    // a failure of this outage has been reported aloud
  uint32_t retryMs_ = 0;         // the next retry's delay
  bool quietError_ = false;
};

}  // namespace zelt
