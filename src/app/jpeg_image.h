// JPEG decoding through libjpeg (the about box's logo).
#pragma once

#include <QByteArray>
#include <QImage>

namespace qvx {

// Decodes a baseline or progressive JPEG into an RGB32 image; a null image
// when the bytes are not a JPEG libjpeg can read.
QImage decodeJpeg(const QByteArray &bytes);

} // namespace qvx
