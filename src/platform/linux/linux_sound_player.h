// Plays WAV files through libcanberra: asynchronously (libcanberra streams on
// a thread of its own), each sound replacing the one still playing.
//
// The libcanberra context is made on the first Play, so a program that never
// plays a sound never touches the sound system. When it cannot be made (no
// sound driver loads), that Play does nothing and the next one tries again.
// Failures to play (no such file, no sound device) are ignored, as the
// interface asks.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/sound_player.h"

struct ca_context;

namespace tarnwick {

class TLinuxSoundPlayer final : public TSoundPlayer {
public:
    TLinuxSoundPlayer();
    TLinuxSoundPlayer(const TLinuxSoundPlayer&) = delete;
    TLinuxSoundPlayer& operator=(const TLinuxSoundPlayer&) = delete;
    // Stops a sound still playing and waits for libcanberra's threads to end.
    ~TLinuxSoundPlayer() override;

    // May be called from any thread.
    void Play(const std::string& path) override;

private:
    struct TContextDestroyer {
        void operator()(ca_context* context) const;
    };

    std::mutex Mutex_;
    std::unique_ptr<ca_context, TContextDestroyer> Context_;
};

}  // namespace tarnwick
