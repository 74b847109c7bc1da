#include "core/PollScheduler.h"

namespace zelt {

TPollScheduler::TPollScheduler(std::unique_ptr<IPollTimer> timer, std::function<void(TTickKind kind)> poll)
    : timer_(std::move(timer)), poll_(std::move(poll)) {
  timer_->SetInterval(intervalMs_);
  timer_->SetEnabled(false);
  timer_->SetOnTick([this] { Tick(); });
}

TPollScheduler::~TPollScheduler() { Stop(); }

void TPollScheduler::SetInterval(uint32_t ms) {
  intervalMs_ = ms;
  if (!shortPending_) timer_->SetInterval(ms);
}

void TPollScheduler::Start() { timer_->SetEnabled(true); }

void TPollScheduler::Stop() {
  timer_->SetEnabled(false);
  timer_->SetOnTick(nullptr);
}

bool TPollScheduler::CountPollMinutes(int32_t intervalSettingMs) {
  // Unsigned arithmetic: a damaged interval must not overflow the count.
  minutesSinceSave_ = static_cast<int32_t>(static_cast<uint32_t>(minutesSinceSave_) +
                                           static_cast<uint32_t>(intervalSettingMs / 1000 / 60));
  if (minutesSinceSave_ >= 60) {
    minutesSinceSave_ = 0;
    return true;
  }
  return false;
}

void TPollScheduler::CatchUp() {
  suspended_ = false;
  if (!timer_->Enabled()) return;  // polling has not begun
  if (catchUpPending_) return;        // events close together give one poll
  if (!recovering_) {
    recovering_ = true;
    errorSounded_ = false;
  }
  retryMs_ = kFirstRetryMs;
  ArmShort(kCatchUpDelayMs, true);
}

// A sleep announced meanwhile moves nothing: the timer keeps its rhythm (and
// a pending catch-up or retry its delay), so that no stream of them holds
// polling off.
void TPollScheduler::Tick() {
  if (suspended_ && !catchUpPending_) {
    // An interval, or a retry's delay, has gone by without a resume: the
    // sleep was only announced, or its resume got lost. Go on as after one.
    CatchUp();
    return;
  }
  if (!shortPending_) {
    poll_(TTickKind::Interval);
    return;
  }
  suspended_ = false;
  DisarmShort();
  poll_(TTickKind::CatchUp);
}

void TPollScheduler::ArmShort(uint32_t ms, bool catchUp) {
  shortPending_ = true;
  catchUpPending_ = catchUp;
  timer_->SetInterval(ms);
}

void TPollScheduler::DisarmShort() {
  if (!shortPending_) return;
  shortPending_ = false;
  catchUpPending_ = false;
  timer_->SetInterval(intervalMs_);
}

void TPollScheduler::Replied() {
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

bool TPollScheduler::Failed() {
  // A failure while a catch-up is pending or during sleep belongs to the
  // network that was; the catch-up poll tells how things stand now.
  quietError_ = suspended_ || catchUpPending_ || (recovering_ && errorSounded_);
  if (recovering_ && !quietError_) errorSounded_ = true;
  RetryLater();
  return quietError_;
}

void TPollScheduler::RetryLater() {
  if (!recovering_ || suspended_ || shortPending_ || !timer_->Enabled()) return;
  if (retryMs_ == 0 || retryMs_ >= intervalMs_) return;  // the interval's own rhythm from here
  ArmShort(retryMs_, false);
  retryMs_ = retryMs_ > intervalMs_ / 2 ? intervalMs_ : retryMs_ * 2;
}

}  // namespace zelt
