// The main window's end: the instance messages that reach it, a close
// request, and the close sequence.
#include <chrono>

#include "base/uZELTIMessages.h"
#include "ui/uMainForm.h"

namespace zelt {

bool TMainForm::HookInstanceMessage(UINT msg) {
  if (msg == ZELTI_FIND && ZELTI_FIND != 0) {
    // One answer a second at most: a peer may answer our HERE with a FIND of
    // its own, sent while we still broadcast or posted after it, and the
    // answers would never end. A FIND within the second is answered when the
    // second is over, once however many came, so an honest peer that asks
    // twice still hears from us.
    if (!AnswerFind() && !herePending_) {
      herePending_ = true;
      SetTimer(Handle(), kHereTimer, 250, nullptr);
    }
    return true;
  }
  if (msg == ZELTI_HALT && ZELTI_HALT != 0) PostMessageW(Handle(), WM_CLOSE, 0, 0);
  return false;
}

bool TMainForm::AnswerFind() {
  const auto now = std::chrono::steady_clock::now();
  if (lastHere_ && now - *lastHere_ < std::chrono::seconds(1)) return false;
  lastHere_ = now;
  Broadcast(ZELTI_HERE);
  return true;
}

void TMainForm::AnswerPendingFind() {
  // Any WM_TIMER of this id, even one another program posted, only ever
  // gives the answer that is due.
  if (!herePending_ || !AnswerFind()) return;
  herePending_ = false;
  KillTimer(Handle(), kHereTimer);
}

void TMainForm::CloseRequested() {
  if (closed_) return;
  if (ModalDepth > 0) {
    // Side windows are open (a close request from another program): close
    // them first; the last ShowDialog to return asks again.
    closePending_ = true;
    CloseDialogs();
    return;
  }
  closed_ = true;
  CloseSequence();
  DestroyWindow(Handle());
}

void TMainForm::CloseSequence() {
  Broadcast(ZELTI_CLOSE);
  if (checker_) checker_->SaveData();
  CloseDialogs();
  network_.reset();
  list_.Clear();  // the rows point into the Checker's records
  quiet_.reset();
  checker_.reset();
}

}  // namespace zelt
