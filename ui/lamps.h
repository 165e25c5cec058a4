// The indicator lamps: 16 x 16 filled discs on a transparent background.
#pragma once

#include <QColor>
#include <QPixmap>
#include <cstdint>

namespace skarvel {

// The colours a lamp shows. The link lamp is green while the device answers
// and black otherwise; the access lamp is yellow while sectors are read,
// red while they are written, and black when the medium rests.
enum TLamp : uint8_t { lampGreen = 0, lampRed = 1, lampYellow = 2, lampBlack = 3 };

QColor LampColor(TLamp lamp);
QPixmap LampPixmap(TLamp lamp);

}  // namespace skarvel
