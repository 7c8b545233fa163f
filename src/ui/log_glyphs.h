// The four 16 x 16 glyphs of the log kinds, drawn in code: information (blue
// disc, white "i"), rule (red disc, white mark), connect (yellow disc, blue
// arrow up), disconnect (yellow disc, blue arrow down).
#pragma once

#include <QColor>
#include <QPixmap>

#include "monitor/log_kind.h"

namespace tarnwick {

inline constexpr int kLogGlyphSize = 16;

QPixmap LogGlyph(LogKind kind);

// The text colour of an entry of `kind` on screen.
QColor LogScreenColour(LogKind kind);

}  // namespace tarnwick
