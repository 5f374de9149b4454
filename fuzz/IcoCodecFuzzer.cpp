// The icon field both ways. Reading: any bytes give a null image or a 16 x 16 one; a field with
// the standard palette reads back exactly after being written again. Writing: any image, of
// any size and format, gives a field that reads as an icon.

#include "FuzzSupport.h"

#include "protocol/PeerMessages.h"
#include "transfer/IcoCodec.h"

#include <QImage>

#include <array>

using velmora::kIconFieldSize;
using velmora::fuzz::check;
using velmora::fuzz::FuzzInput;

namespace {

constexpr std::array<QImage::Format, 8> kFormats{
    QImage::Format_ARGB32,   QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied,
    QImage::Format_RGB888,   QImage::Format_RGB16, QImage::Format_Grayscale8,
    QImage::Format_Indexed8, QImage::Format_Mono};

void checkIcon(const QImage& image) {
    check(!image.isNull() && image.width() == 16 && image.height() == 16,
          "a written field reads as a 16 x 16 icon");
}

void checkReadField(const QByteArray& field) {
    const QImage image = velmora::decodeIco16(field);
    if (image.isNull()) {
        return;
    }
    check(image.width() == 16 && image.height() == 16, "a field reads as 16 x 16");
    const QByteArray again = velmora::encodeIco16(image);
    check(again.size() == kIconFieldSize, "a written field has its size");
    const QImage reread = velmora::decodeIco16(again);
    checkIcon(reread);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            check((qAlpha(image.pixel(x, y)) == 0) == (qAlpha(reread.pixel(x, y)) == 0),
                  "transparency survives writing the field again");
        }
    }
    // The writer keeps the standard colours exactly: what it wrote is written the same again.
    check(velmora::encodeIco16(reread) == again, "a field written by the writer is kept as it is");
}

QImage imageFrom(FuzzInput& input) {
    const int width = 1 + input.pick(48);
    const int height = 1 + input.pick(48);
    QImage image(width, height, kFormats[static_cast<std::size_t>(input.pick(kFormats.size()))]);
    if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono) {
        QList<QRgb> colours(image.format() == QImage::Format_Mono ? 2 : 1 + input.pick(256));
        for (QRgb& colour : colours) {
            colour = input.u32();
        }
        image.setColorTable(colours);
    }
    const QByteArray pixels = input.bytes(image.sizeInBytes());
    std::copy(pixels.begin(), pixels.end(), image.bits());
    if (image.format() == QImage::Format_Indexed8) {
        // Every index must name a colour of the table.
        for (qsizetype i = 0; i < image.sizeInBytes(); ++i) {
            image.bits()[i] = static_cast<uchar>(image.bits()[i] % image.colorCount());
        }
    }
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const int mode = input.pick(3);
    if (mode == 0) {
        checkReadField(input.rest());
    } else if (mode == 1) {
        // A valid directory and header with the standard palette: the fuzzer plays with the
        // pixels and the mask.
        QByteArray field = velmora::encodeIco16(QImage());
        const QByteArray body = input.bytes(kIconFieldSize);
        constexpr int kPixelsAt = 6 + 16 + 40 + 64;
        for (qsizetype i = 0; i < body.size() && kPixelsAt + i < kIconFieldSize; ++i) {
            field[kPixelsAt + i] = body[i];
        }
        checkReadField(field);
        const QImage image = velmora::decodeIco16(field);
        check(velmora::decodeIco16(velmora::encodeIco16(image)) == image,
              "an icon of the standard colours reads back exactly");
    } else {
        const QImage image = imageFrom(input);
        const QByteArray field = velmora::encodeIco16(image);
        check(field.size() == kIconFieldSize, "a written field has its size");
        checkIcon(velmora::decodeIco16(field));
    }
    return 0;
}
