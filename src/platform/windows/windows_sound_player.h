// Plays WAV files with PlaySoundW, asynchronously: Windows plays the file on
// its own thread, and a new sound stops the one still playing.
#pragma once

#include "platform/sound_player.h"

namespace tarnwick {

class TWindowsSoundPlayer final : public TSoundPlayer {
public:
    // Without a sound device, or for a file that is no sound, nothing plays
    // (SND_NODEFAULT: not the system's default sound either).
    void Play(const std::string& path) override;
};

}  // namespace tarnwick
