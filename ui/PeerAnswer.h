// How the main window answers the other copies of the program: ZELTI_FIND
// with ZELTI_HERE, once a second at most, and ZELTI_HALT with the close
// request "Выход" makes.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>

#include "widgets/Window.h"

namespace zelt {

class TPeerAnswer {
 public:
  // The window that answers, and whose timer waits for the next second.
  explicit TPeerAnswer(const TWindow& window) : window_(window) {}

  // An instance message the window received; true when it counts as
  // handled.
  bool Hear(UINT msg);
  // The window's WM_TIMER; true when it was this answer's timer.
  bool Tick(UINT_PTR id);

 private:
  // Broadcasts HERE unless one went out less than a second ago; true when sent.
  bool AnswerFind();

  static constexpr UINT_PTR kTimer = 0x5A48;
  const TWindow& window_;
  // When ZELTI_FIND was last answered.
  std::optional<std::chrono::steady_clock::time_point> lastHere_;
  // A FIND came within the second: it is answered when the second is over.
  bool pending_ = false;
};

}  // namespace zelt
