// Pictures of our own, drawn in code: the top band's banner and the window icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tarnwick {

QPixmap BannerPicture(int height);
QIcon ApplicationIcon();

}  // namespace tarnwick
