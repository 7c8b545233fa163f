// The Start, Pause and Stop buttons of the capture window: a glyph on a round
// plate, with pictures of their own when disabled and when pressed.
#pragma once

#include <QColor>

class QToolButton;
class QWidget;

namespace tarnwick {

enum class TCaptureGlyph { Start, Pause, Stop };

// A 32 x 32 button at (`left`, 5) showing `glyph` in `colour`.
QToolButton* CaptureButton(QWidget* parent, const char* name, TCaptureGlyph glyph, const QColor& colour, int left);

}  // namespace tarnwick
