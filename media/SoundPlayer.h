// The checker's sound port over one MediaPlayer: the player is created with no
// file and no display window, over the given link to MCI, and lives as long
// as the port.
#pragma once

#include <string>

#include "base/Ports.h"
#include "media/MediaPlayer.h"

namespace zelt {

class TSoundPlayer final : public ISoundPlayer {
 public:
  explicit TSoundPlayer(TMciLink link = {}) : player_(std::string(), nullptr, std::move(link)) {}

  void Stop() override;
  void Close() override;
  // Opens a device for the file; false when none could be opened (missing
  // file, no device takes the format, any MCI error).
  bool SetFileName(const std::string& path) override;
  void Play() override;

  MediaPlayer& Player() { return player_; }

 private:
  MediaPlayer player_;
};

}  // namespace zelt
