#include "ui/PeerAnswer.h"

#include "base/uZELTIMessages.h"

namespace zelt {

bool TPeerAnswer::Hear(UINT msg) {
  if (msg == ZELTI_FIND && ZELTI_FIND != 0) {
    // One answer a second at most: a peer may answer our HERE with a FIND of
    // its own, sent while we still broadcast or posted after it, and the
    // answers would never end. A FIND within the second is answered when the
    // second is over, once however many came, so an honest peer that asks
    // twice still hears from us.
    if (!AnswerFind() && !pending_) {
      pending_ = true;
      SetTimer(window_.Handle(), kTimer, 250, nullptr);
    }
    return true;
  }
  if (msg == ZELTI_HALT && ZELTI_HALT != 0) PostMessageW(window_.Handle(), WM_CLOSE, 0, 0);
  return false;
}

bool TPeerAnswer::Tick(UINT_PTR id) {
  if (id != kTimer) return false;
  // Any WM_TIMER of this id, even one another program posted, only ever
  // gives the answer that is due.
  if (pending_ && AnswerFind()) {
    pending_ = false;
    KillTimer(window_.Handle(), kTimer);
  }
  return true;
}

bool TPeerAnswer::AnswerFind() {
  const auto now = std::chrono::steady_clock::now();
  if (lastHere_ && now - *lastHere_ < std::chrono::seconds(1)) return false;
  lastHere_ = now;
  Broadcast(ZELTI_HERE);
  return true;
}

}  // namespace zelt
