// Tells a key released in a window from one merely released there: a key
// acted on at key-up counts only when its key-down reached the same window.
// A dialog that closes at key-down (the system's file dialog closes on Esc
// pressed) leaves the release to the window under it, which must not take
// it for a press of its own.
//
//   bool OnKeyDown(UINT vk) override { escape_.Down(vk); ... }
//   bool OnKeyUp(UINT vk) override { if (vk == VK_ESCAPE && !escape_.Up(vk)) return true; ... }
#pragma once

#include <windows.h>

namespace zelt {

class TKeyGuard {
 public:
  explicit TKeyGuard(UINT vk) : vk_(vk) {}
  // A key went down in the window.
  void Down(UINT vk) {
    if (vk == vk_) down_ = true;
  }
  // The key came up: true when it went down in this window too.
  bool Up(UINT vk) {
    if (vk != vk_) return false;
    const bool was = down_;
    down_ = false;
    return was;
  }

 private:
  UINT vk_;
  bool down_ = false;
};

}  // namespace zelt
