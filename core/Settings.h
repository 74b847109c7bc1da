// Settings storage: the password scrambling of data.dat and the two registry
// values the program keeps.
#pragma once

#include <string>

namespace zelt {

// The ranges the settings window allows; values loaded from data.dat are
// brought into them.
inline constexpr int kMinIntervalMinutes = 1;
inline constexpr int kMaxIntervalMinutes = 60;
inline constexpr int kMinTopicCount = 1;
inline constexpr int kMaxTopicCount = 30;

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
