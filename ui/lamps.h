// The indicator lamps: 16 x 16 filled discs on a transparent background.
#pragma once

#include <QColor>
#include <QPixmap>

namespace skarvel {

enum TLamp : int { lampGreen = 0, lampRed = 1, lampYellow = 2, lampBlack = 3 };

QColor LampColor(int lamp);
QPixmap LampPixmap(int lamp);

}  // namespace skarvel
