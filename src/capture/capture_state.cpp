#include "capture/capture_state.h"

namespace tarnwick {

TCaptureControls CaptureControlsIn(TCaptureState state, bool recording) {
    switch (state) {
        case TCaptureState::Idle: return {.Start = true, .Filter = true};
        case TCaptureState::Capturing: return {.Pause = true, .Stop = true, .Record = !recording};
        case TCaptureState::Paused: return {.Pause = true, .PauseDown = true};
    }
    return {};
}

}  // namespace tarnwick
