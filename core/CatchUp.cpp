// The checker and the machine around it: sleep, resume and network changes.
// The poll timer does the waiting: a catch-up or retry runs it once after a
// short delay, and its tick puts the interval back (which restarts it from
// that poll) before it polls.
#include "core/uChecker.h"

namespace zelt {

void TChecker::CatchUp() {
  suspended_ = false;
  if (!PollTimer->Enabled()) return;  // polling has not begun
  if (catchUpPending_) return;        // events close together give one poll
  if (!recovering_) {
    recovering_ = true;
    errorSounded_ = false;
  }
  retryMs_ = kFirstRetryMs;
  ArmShort(kCatchUpDelayMs, true);
}

// The timer keeps its rhythm (and a pending catch-up or retry its delay):
// another sleep announced meanwhile moves nothing, so that no stream of
// them holds polling off.
void TChecker::Suspend() { suspended_ = true; }

void TChecker::Tick() {
  if (suspended_ && !catchUpPending_) {
    // An interval, or a retry's delay, has gone by without a resume: the
    // sleep was only announced, or its resume got lost. Go on as after one.
    CatchUp();
    return;
  }
  if (!shortPending_) {
    Poll();
    return;
  }
  suspended_ = false;
  DisarmShort();
  // A request begun before the machine slept or the network changed waits
  // on a connection that is gone, or its outcome waits in the queue: the
  // catch-up replaces it.
  if (awaitingReply_) {
    Loader->Stop();  // raises no event: nothing is awaited any more
    awaitingReply_ = false;
    replacedBelow_ = sent_ + 1;
  }
  PollNow(false);
}

void TChecker::ArmShort(uint32_t ms, bool catchUp) {
  if (!shortPending_) intervalMs_ = PollTimer->Interval();
  shortPending_ = true;
  catchUpPending_ = catchUp;
  PollTimer->SetInterval(ms);
}

void TChecker::DisarmShort() {
  if (!shortPending_) return;
  shortPending_ = false;
  catchUpPending_ = false;
  PollTimer->SetInterval(intervalMs_);
}

void TChecker::Recovered() {
  // A reply while the catch-up settles may be the stale request's: the
  // catch-up still goes out and decides.
  if (catchUpPending_) return;
  recovering_ = false;
  errorSounded_ = false;
  retryMs_ = 0;
  quietError_ = false;
  // A reply that came while a retry waited makes the retry needless.
  DisarmShort();
}

void TChecker::RetryLater() {
  if (!recovering_ || suspended_ || shortPending_ || !PollTimer->Enabled()) return;
  const uint32_t interval = PollTimer->Interval();
  if (retryMs_ == 0 || retryMs_ >= interval) return;  // the interval's own rhythm from here
  ArmShort(retryMs_, false);
  retryMs_ = retryMs_ > interval / 2 ? interval : retryMs_ * 2;
}

}  // namespace zelt
