#include "core/Settings.h"

#include "core/uChecker.h"

namespace zelt {

const char* const kSoundEventNames[3] = {"Новые сообщения", "Выпущено обновление", "Ошибка"};

std::string ScramblePassword(const std::string& text) {
  std::string out = text;
  for (size_t i = 1; i <= out.size(); ++i) {
    const size_t k = i <= 10 ? i : i % 10;
    if (k != 0) out[i - 1] = static_cast<char>(out[i - 1] ^ kScrambleKey[k - 1]);
  }
  return out;
}

void TChecker::ResetSettings() {
  LastInBytes = LastInUnpacked = LastOutBytes = 0;
  TotalInBytes = TotalInUnpacked = TotalOutBytes = 0;
  UpdateInBytes = UpdateOutBytes = UpdateTotalBytes = 0;
  Reserved36 = 0;
  TrafficSince = 0;
  IntervalMs = 0;
  TopicCount = 0;
  IgnoreOwnPosts = AutoStart = ShowOnNew = UseSounds = UseIESettings = false;
  Reserved61 = 0;
  ProxyPort = 0;
  for (std::string* s : {&ProxyServer, &UserName, &Password, &Nick, &SoundNewMessages, &SoundNewVersion, &SoundError})
    s->clear();
}

void TChecker::WriteInstallPath() { registry_.WriteString(kInstallKey, kInstallValue, exePath_.wstring(), true); }

void TChecker::SetAutoStart(bool on) {
  // Quoted: Windows runs an unquoted path with blanks by trying each prefix
  // ("C:\Program.exe" first) at every logon.
  if (on)
    registry_.WriteString(kRunKey, kRunValue, L"\"" + exePath_.wstring() + L"\"", false);
  else
    registry_.DeleteValue(kRunKey, kRunValue);
}

void TChecker::SelectSound(int32_t kind) {
  SoundToPlay.clear();
  switch (kind) {
    case 0: SoundToPlay = SoundNewMessages; break;
    case 1: SoundToPlay = SoundNewVersion; break;
    case 2: SoundToPlay = SoundError; break;
    default: break;
  }
  // Whatever still plays ends first; the same event twice plays twice.
  sound_.Stop();
  sound_.Close();
  if (SoundToPlay.empty()) return;
  if (!sound_.SetFileName(SoundToPlay)) return;
  sound_.Play();
}

}  // namespace zelt
