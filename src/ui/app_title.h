// The program's title: the caption of its main window's notices.
#pragma once

#include <QString>

namespace tarnwick {

inline const QString kApplicationTitle = QStringLiteral("Tarnwick 1.01");

}  // namespace tarnwick
