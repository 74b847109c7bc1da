#include "ui/uTrafInfo.h"

#include "core/Traffic.h"
#include "core/uChecker.h"
#include "widgets/Paint.h"

namespace zelt {

TTrafInfo::TTrafInfo(const TWindowContext& context) : checker_(context.Checker) {
  CreateForm(kTitle, kTitle, kWidth, kHeight, context.Owner);
  CentreOn(context.Owner);
  static constexpr const char* kCaptions[kRows] = {"Входящий", "Исходящий", "Общий", "Обновления",
                                                   "Сжатие входящего"};
  for (int i = 0; i < kRows; ++i) {
    const int y = 24 + 16 * i;
    captions_[static_cast<size_t>(i)].Create(Body(), 8, y, kCaptions[i]);
    values_[static_cast<size_t>(i)].Create(Body(), 128, y, "   ...   ");
  }
  line_.Create(Body(), 8, 104, kWidth - 16);
  footer_.Create(Body(), 8, 113, "От: ");
  footer_.SetColour(palette::kGrey);
  reset_.Create(Body(), 132, 112, 101, 16, "Сброс");
  reset_.OnClick = [this] {
    checker_.ResetTraffic();
    checker_.SaveData();  // the reset survives a crash
    Refresh();
  };
  Refresh();
}

void TTrafInfo::Refresh() {
  const TTrafficCounters& c = checker_.Traffic();
  // The counters are 32-bit and wrap, so their sums do too.
  values_[0].SetText(FormatSize(c.TotalInBytes, 1));
  values_[1].SetText(FormatSize(c.TotalOutBytes, 1));
  values_[2].SetText(FormatSize(c.TotalInBytes + c.TotalOutBytes + c.UpdateTotalBytes, 1));
  values_[3].SetText(FormatSize(c.UpdateInBytes + c.UpdateOutBytes, 1));
  values_[4].SetText(CompressionText(c.TotalInBytes, c.TotalInUnpacked));
  footer_.SetText("От: " + FormatStamp(c.TrafficSince));
}

}  // namespace zelt
