// The look the program's forms share: the blue-grey form colour, text in
// Arial at 12 pixels, and where a form opens.
#pragma once

#include <QColor>
#include <QFont>
#include <QStringList>

class QScreen;
class QWidget;

namespace tarnwick {

// The background of every form, 4B7D9E.
QColor FormColour();

// Fills `form`'s background with FormColour.
void ApplyFormColour(QWidget& form);

// A font of the first of `families` the system has, `pixels` high whatever
// the screen's resolution, as the forms were laid out in pixels.
QFont PixelFont(const QStringList& families, int pixels);

// The forms' text: Arial, 12 pixels.
QFont FormFont();

// Moves `form` so that its frame is centred on the work area of `screen`
// (the primary screen when null).
void CentreOnScreen(QWidget& form, const QScreen* screen = nullptr);

// Moves `form` so that it is centred over `owner`'s frame.
void CentreOn(QWidget& form, const QWidget& owner);

}  // namespace tarnwick
