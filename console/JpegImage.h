#pragma once

#include <QByteArray>
#include <QImage>

namespace velkor {

// Decodes a JPEG with libjpeg into an RGB image; throws VelkorError when the data is not a
// JPEG libjpeg can read.
QImage decodeJpeg(const QByteArray& data);

}  // namespace velkor
