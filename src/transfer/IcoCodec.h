#pragma once

#include <QByteArray>
#include <QImage>

namespace velmora {

// The icon field of a file offer: an ICO file with one 16 x 16 image of 16 colours (4 bits per
// pixel) and its 1-bit transparency mask, 318 bytes in all.

// Scales the image to 16 x 16 and maps every pixel to the nearest of the 16 standard colours;
// pixels less than half opaque become transparent. A null image gives a fully transparent icon.
QByteArray encodeIco16(const QImage& image);

// The 16 x 16 image of an icon field, transparent where its mask says so; a null image when the
// bytes are not such an icon.
QImage decodeIco16(const QByteArray& icon);

}  // namespace velmora
