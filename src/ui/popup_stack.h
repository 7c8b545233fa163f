// Where alert popups go: the stack of open alerts above the bottom of the
// work area and the rows a window covers while it slides in and out. Plain
// arithmetic, no toolkit, so it is tested as logic.
#pragma once

#include <optional>
#include <vector>

namespace tarnwick {

inline constexpr int kPopupWidth = 181;
inline constexpr int kPopupHeight = 116;
inline constexpr int kPopupSpacing = 120;   // between two stack positions
inline constexpr int kPopupRightGap = 20;   // between the window and the work area's right edge
inline constexpr int kPopupSlideStep = 5;   // pixels per slide tick

// Left edge of every alert: 20 pixels left of where a 181-pixel window would
// touch the work area's right edge (`workAreaRightEnd` is the first column
// past the work area).
constexpr int PopupLeft(int workAreaRightEnd) { return workAreaRightEnd - kPopupWidth - kPopupRightGap; }

// The stack positions of the open alerts. A position is the bottom pixel row
// of its window. New alerts always open directly above the highest open one;
// gaps left by alerts that closed below it are not reused, and the stack goes
// back to the bottom only once every alert has closed.
class TPopupStack {
public:
    // `workAreaTop` and `workAreaBottom` are the first and last pixel rows of the work area.
    TPopupStack(int workAreaTop, int workAreaBottom);

    // The position for a new alert, recorded as open; nullopt when the next
    // position lies less than 120 rows below the work area's top (no room).
    std::optional<int> Take();
    // An alert at `position` has closed.
    void Release(int position);

    int NextTop() const { return NextTop_; }
    // Positions of the open alerts in the order they opened.
    const std::vector<int>& Positions() const { return Positions_; }

private:
    int Top_;
    int Bottom_;
    int NextTop_;
    std::vector<int> Positions_;
};

// A window's rows during a slide: its bottom row stays on its position.
struct TSlideFrame {
    int Top = 0;
    int Height = 0;
    bool Done = false;  // the slide is over after this frame
    bool operator==(const TSlideFrame&) const = default;
};

// One tick of the slide-in from `height`: 5 rows higher, done at `fullHeight`.
TSlideFrame SlideInStep(int slotTop, int height, int fullHeight = kPopupHeight);
// One tick of the slide-out from `height`: 5 rows lower, done at 1 row.
TSlideFrame SlideOutStep(int slotTop, int height);

}  // namespace tarnwick
