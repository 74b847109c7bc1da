// The side windows the main window opens, by kind. Each is made when it is
// opened, shown modally (a nested message loop, so polls go on) and freed
// when it closes; at most one of a kind exists.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "widgets/Form.h"

namespace zelt {

enum TDialogKind : int32_t { dkSounds = 1, dkSettings, dkFavorites, dkUpdateInfo, dkTraffic, dkAbout, dkDownload };
inline constexpr int kDialogKinds = 7;

class TSideWindows {
 public:
  // Makes the window of a kind; null for a kind that has none.
  using Factory = std::function<std::unique_ptr<TForm>(TDialogKind kind)>;
  explicit TSideWindows(Factory make) : make_(std::move(make)) {}

  // Opens the window of the kind modally and returns once it has closed. A
  // kind whose window is open further down comes forward instead of nesting
  // a second loop; any other number opens nothing.
  void Show(int kind);
  // Asks every open window to close (a posted request) and frees those whose
  // modal loop no longer runs; the others are freed by their Show.
  void CloseAll();
  TForm* Get(int kind) const;

 private:
  Factory make_;
  std::array<std::unique_ptr<TForm>, kDialogKinds + 1> forms_;
};

}  // namespace zelt
