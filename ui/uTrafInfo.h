// The traffic window: totals received and sent, update traffic, what
// compression saved, and since when the counters run; "Сброс" starts them
// anew. Opened modally from the main window, refreshed on opening, after a
// reset and after every completed poll while it is open.
#pragma once

#include <array>

#include "ui/WindowContext.h"
#include "widgets/Button.h"
#include "widgets/Form.h"
#include "widgets/Label.h"
#include "widgets/Panel.h"

namespace zelt {

class TTrafInfo final : public TForm {
 public:
  static constexpr const char* kTitle = "Трафик";
  static constexpr int kWidth = 242;
  static constexpr int kHeight = 134;
  static constexpr int kRows = 5;

  explicit TTrafInfo(const TWindowContext& context);

  // Reads the checker's counters into the rows and the footer.
  void Refresh();
  std::string Caption(int row) const { return captions_[static_cast<size_t>(row)].Text(); }
  std::string Value(int row) const { return values_[static_cast<size_t>(row)].Text(); }
  std::string Footer() const { return footer_.Text(); }
  TButton& ResetButton() { return reset_; }

 private:
  std::array<TLabel, kRows> captions_;
  std::array<TLabel, kRows> values_;
  TSeparator line_;
  TLabel footer_;
  TButton reset_;
  TChecker& checker_;
};

}  // namespace zelt
