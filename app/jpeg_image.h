// Decoding of JPEG pictures with libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>

namespace skarvel {

// The decoded picture (RGB), or a null image when the data are not a JPEG
// picture libjpeg can read.
QImage DecodeJpeg(const QByteArray& data);

}  // namespace skarvel
