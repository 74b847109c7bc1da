#include "core/QuietGate.h"

namespace zelt {

TQuietGate::TQuietGate(const INotificationState& state, std::unique_ptr<IPollTimer> recheck,
                       std::function<TNews()> newsNow)
    : state_(state), recheck_(std::move(recheck)), newsNow_(std::move(newsNow)) {
  recheck_->SetInterval(kRecheckMs);
  recheck_->SetEnabled(false);
  recheck_->SetOnTick([this] { Recheck(); });
}

TQuietGate::~TQuietGate() {
  recheck_->SetEnabled(false);
  recheck_->SetOnTick(nullptr);
}

bool TQuietGate::Admit(TNews news) {
  if (state_.UserBusy()) {
    waiting_.Messages = waiting_.Messages || news.Messages;
    waiting_.Version = waiting_.Version || news.Version;
    recheck_->SetEnabled(true);
    return false;
  }
  // The popup shown now tells what waited too.
  waiting_ = {};
  recheck_->SetEnabled(false);
  return true;
}

void TQuietGate::Recheck() {
  if (!waiting_.Any() || state_.UserBusy()) return;
  const TNews now = newsNow_ ? newsNow_() : TNews{};
  const TNews still{waiting_.Messages && now.Messages, waiting_.Version && now.Version};
  waiting_ = {};
  recheck_->SetEnabled(false);
  if (still.Any() && OnRelease) OnRelease(still);
}

}  // namespace zelt
