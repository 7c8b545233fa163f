#include "platform/windows/windows_sound_player.h"

#include <windows.h>
#include <mmsystem.h>

#include "platform/windows/wide_text.h"

namespace tarnwick {

void TWindowsSoundPlayer::Play(const std::string& path) {
    ::PlaySoundW(WideText(path).c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
}

}  // namespace tarnwick
