#include "media/SoundPlayer.h"

namespace zelt {

void TSoundPlayer::Stop() { player_.Stop(); }

void TSoundPlayer::Close() { player_.Close(); }

bool TSoundPlayer::SetFileName(const std::string& path) { return player_.SetFileName(path); }

void TSoundPlayer::Play() { player_.Play(); }

}  // namespace zelt
