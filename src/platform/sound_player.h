// Plays WAV files for rule actions: once, asynchronously, a new sound
// replacing one still playing.
#pragma once

#include <string>

namespace tarnwick {

class TSoundPlayer {
public:
    virtual ~TSoundPlayer() = default;

    // Starts playing the WAV file at `path` and returns at once. Having no
    // sound device is not an error; nothing is reported.
    virtual void Play(const std::string& path) = 0;
};

}  // namespace tarnwick
