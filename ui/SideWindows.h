// The side windows the main window opens, by kind. Each is made when it is
// opened, shown modally (a nested message loop, so polls go on) and freed
// when it closes; at most one of a kind exists.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "ui/WindowContext.h"
#include "widgets/Form.h"

namespace zelt {

class TSideWindows {
 public:
  // Makes the window of a kind.
  using Factory = std::function<std::unique_ptr<TForm>(TDialogKind kind)>;
  explicit TSideWindows(Factory make) : make_(std::move(make)) {}

  // Opens the window of the kind modally and returns once it has closed. A
  // kind whose window is open further down comes forward instead of nesting
  // a second loop.
  void Show(TDialogKind kind);
  // Asks every open window to close (a posted request) and frees those whose
  // modal loop no longer runs; the others are freed by their Show.
  void CloseAll();
  TForm* Get(TDialogKind kind) const;

 private:
  std::unique_ptr<TForm>& Slot(TDialogKind kind) { return forms_[static_cast<size_t>(kind) - 1]; }
  Factory make_;
  std::array<std::unique_ptr<TForm>, kDialogKinds> forms_;
};

}  // namespace zelt
