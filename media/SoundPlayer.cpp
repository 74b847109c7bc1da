#include "media/SoundPlayer.h"

namespace zelt {

void SoundPlayer::Stop() { player_.Stop(); }

void SoundPlayer::Close() { player_.Close(); }

bool SoundPlayer::SetFileName(const std::string& path) { return player_.SetFileName(path); }

void SoundPlayer::Play() { player_.Play(); }

}  // namespace zelt
