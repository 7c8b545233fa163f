#include "ui/popup_stack.h"

#include <algorithm>

namespace tarnwick {

TPopupStack::TPopupStack(int workAreaTop, int workAreaBottom)
    : Top_(workAreaTop), Bottom_(workAreaBottom), NextTop_(workAreaBottom) {}

std::optional<int> TPopupStack::Take() {
    if (NextTop_ - kPopupSpacing < Top_) return std::nullopt;
    const int position = NextTop_;
    Positions_.push_back(position);
    NextTop_ -= kPopupSpacing;
    return position;
}

void TPopupStack::Release(int position) {
    const auto found = std::find(Positions_.begin(), Positions_.end(), position);
    if (found != Positions_.end()) Positions_.erase(found);
    if (Positions_.empty()) {
        NextTop_ = Bottom_;
        return;
    }
    // Directly above the highest window still open.
    NextTop_ = std::min(Bottom_, *std::min_element(Positions_.begin(), Positions_.end())) - kPopupSpacing;
}

namespace {

TSlideFrame FrameAt(int slotTop, int height, bool done) { return {slotTop + 1 - height, height, done}; }

}  // namespace

TSlideFrame SlideInStep(int slotTop, int height, int fullHeight) {
    const int next = std::min(height + kPopupSlideStep, fullHeight);
    return FrameAt(slotTop, next, next >= fullHeight);
}

TSlideFrame SlideOutStep(int slotTop, int height) {
    const int next = std::max(height - kPopupSlideStep, 1);
    return FrameAt(slotTop, next, next <= 1);
}

}  // namespace tarnwick
