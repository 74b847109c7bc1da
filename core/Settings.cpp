#include "core/Settings.h"

#include <algorithm>

namespace zelt {

const char* const kSoundEventNames[kSoundEvents] = {"Новые сообщения", "Выпущено обновление", "Ошибка"};

const std::string& TSettings::Sound(TSoundEvent event) const {
  switch (event) {
    case TSoundEvent::NewMessages: return SoundNewMessages;
    case TSoundEvent::NewVersion: return SoundNewVersion;
    case TSoundEvent::Error: break;
  }
  return SoundError;
}

std::string& TSettings::Sound(TSoundEvent event) {
  return const_cast<std::string&>(static_cast<const TSettings&>(*this).Sound(event));
}

void BringIntoRange(TSettings& s) {
  if (s.TopicCount == 0) s.TopicCount = kDefaultTopicCount;
  if (s.IntervalMs == 0) s.IntervalMs = kDefaultIntervalMs;
  s.IntervalMs = std::clamp(s.IntervalMs, kMinIntervalMinutes * 60000, kMaxIntervalMinutes * 60000);
  s.TopicCount = std::clamp(s.TopicCount, kMinTopicCount, kMaxTopicCount);
}

std::string ScramblePassword(const std::string& text) {
  std::string out = text;
  for (size_t i = 1; i <= out.size(); ++i) {
    const size_t k = i <= 10 ? i : i % 10;
    if (k != 0) out[i - 1] = static_cast<char>(out[i - 1] ^ kScrambleKey[k - 1]);
  }
  return out;
}

}  // namespace zelt
