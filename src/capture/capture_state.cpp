#include "capture/capture_state.h"

namespace tarnwick {

TCaptureControls CaptureControlsIn(TCaptureState state) {
    switch (state) {
        case TCaptureState::Idle: return {.Start = true, .Filter = true};
        case TCaptureState::Capturing: return {.Pause = true, .Stop = true};
        case TCaptureState::Paused: return {.Pause = true, .PauseDown = true};
    }
    return {};
}

}  // namespace tarnwick
