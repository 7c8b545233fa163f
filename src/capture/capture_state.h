// The states of a capture session, and which controls of the capture window
// each state leaves enabled: the one place that rule lives.
#pragma once

namespace tarnwick {

enum class TCaptureState {
    Idle,       // nothing captured: never started, stopped, or the start failed
    Capturing,  // packets listed as they arrive
    Paused,     // captures open, packets read and dropped
};

struct TCaptureControls {
    bool Start = false;
    bool Pause = false;
    bool PauseDown = false;  // the Pause button shows pressed
    bool Stop = false;
    bool Filter = false;  // the filter fields and their labels
};

// Idle: Start and the filter. Capturing: Pause and Stop. Paused: only Pause
// (pressed), which resumes; a paused capture is not stopped.
TCaptureControls CaptureControlsIn(TCaptureState state);

}  // namespace tarnwick
