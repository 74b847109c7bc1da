// The user's settings as data.dat stores them (their reset values are the
// initialisers), the ranges the settings window allows, the password
// scrambling of data.dat and the two registry values the program keeps.
#pragma once

#include <cstdint>
#include <string>

namespace zelt {

// The three sound events, in kind order.
enum class TSoundEvent : int32_t { NewMessages = 0, NewVersion = 1, Error = 2 };
inline constexpr int kSoundEvents = 3;
// Their names, in kind order.
extern const char* const kSoundEventNames[kSoundEvents];

struct TSettings {
  int32_t IntervalMs = 0;
  int32_t TopicCount = 0;
  bool IgnoreOwnPosts = false;
  bool AutoStart = false;
  bool ShowOnNew = false;
  bool UseSounds = false;
  bool UseIESettings = false;
  uint8_t Reserved61 = 0;
  uint16_t ProxyPort = 0;
  std::string ProxyServer, UserName, Password, Nick, SoundNewMessages, SoundNewVersion, SoundError;

  // The file of a sound event.
  const std::string& Sound(TSoundEvent event) const;
  std::string& Sound(TSoundEvent event);
};

// The ranges the settings window allows; values loaded from data.dat are
// brought into them.
inline constexpr int kMinIntervalMinutes = 1;
inline constexpr int kMaxIntervalMinutes = 60;
inline constexpr int kMinTopicCount = 1;
inline constexpr int kMaxTopicCount = 30;
// What a stored 0 stands for.
inline constexpr int32_t kDefaultIntervalMs = 300000;
inline constexpr int32_t kDefaultTopicCount = 10;

// The interval and the topic count as loaded: a 0 takes its default, and a
// damaged or hand-edited value comes into the window's range, as the window
// would correct it (an interval of a few milliseconds would poll back to
// back, a negative one wait weeks).
void BringIntoRange(TSettings& settings);

// Key of the password scrambling.
inline constexpr char kScrambleKey[] = "583~916kR2";

// XORs byte i (counted from 1) with the key character i for i up to 10, with
// the character i mod 10 beyond, and leaves every 10th byte from the 20th on
// unchanged. Applying it twice gives the input back.
std::string ScramblePassword(const std::string& text);

// Keys and values under HKEY_CURRENT_USER.
inline constexpr char kInstallKey[] = "Software\\Zelt Rarazovo";
inline constexpr char kInstallValue[] = "Path";
inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunValue[] = "ZeltInformerA";

}  // namespace zelt
