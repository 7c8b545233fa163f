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
    bool Record = false;  // "&Record...": choose a file and record into it from now on
};

// Idle: Start and the filter. Capturing: Pause and Stop, and Record unless
// `recording` already. Paused: only Pause (pressed), which resumes; a paused
// capture is not stopped.
TCaptureControls CaptureControlsIn(TCaptureState state, bool recording = false);

}  // namespace tarnwick
