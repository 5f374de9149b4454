#include "transfer/IcoCodec.h"

#include "base/ByteLayout.h"
#include "protocol/PeerMessages.h"

#include <array>
#include <cstdint>
#include <limits>

namespace velmora {

namespace {

constexpr int kSide = 16;
constexpr int kDirectorySize = 6 + 16;
constexpr int kInfoHeaderSize = 40;
constexpr int kPaletteSize = 16 * 4;
constexpr int kPixelRowBytes = 8;  // 16 pixels of 4 bits
constexpr int kMaskRowBytes = 4;   // 16 bits, padded to 32
constexpr int kPixelsAt = kDirectorySize + kInfoHeaderSize + kPaletteSize;
constexpr int kMaskAt = kPixelsAt + kSide * kPixelRowBytes;
static_assert(kMaskAt + kSide * kMaskRowBytes == kIconFieldSize);

// The standard 16 colours, in their usual order.
constexpr std::array<QRgb, 16> kPalette{
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};

std::span<char> spanOf(QByteArray& bytes) {
    return {bytes.data(), static_cast<std::size_t>(bytes.size())};
}

void put16(QByteArray& bytes, int at, std::uint16_t value) {
    storeU16(spanOf(bytes), static_cast<std::size_t>(at), value);
}

void put32(QByteArray& bytes, int at, std::uint32_t value) {
    storeU32(spanOf(bytes), static_cast<std::size_t>(at), value);
}

std::uint16_t get16(const QByteArray& bytes, int at) {
    return loadU16(bytesOf(bytes), static_cast<std::size_t>(at));
}

std::uint32_t get32(const QByteArray& bytes, int at) {
    return loadU32(bytesOf(bytes), static_cast<std::size_t>(at));
}

int nearestColour(QRgb pixel) {
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int index = 0; index < static_cast<int>(kPalette.size()); ++index) {
        const QRgb colour = kPalette[static_cast<std::size_t>(index)];
        const int red = qRed(pixel) - qRed(colour);
        const int green = qGreen(pixel) - qGreen(colour);
        const int blue = qBlue(pixel) - qBlue(colour);
        const int distance = red * red + green * green + blue * blue;
        if (distance < bestDistance) {
            best = index;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace

QByteArray encodeIco16(const QImage& image) {
    QByteArray icon(kIconFieldSize, '\0');
    // Directory: reserved, type 1 (icon), one image; its entry.
    put16(icon, 2, 1);
    put16(icon, 4, 1);
    icon[6] = static_cast<char>(kSide);
    icon[7] = static_cast<char>(kSide);
    icon[8] = 16;        // colours
    put16(icon, 10, 1);  // planes
    put16(icon, 12, 4);  // bits per pixel
    put32(icon, 14, kIconFieldSize - kDirectorySize);
    put32(icon, 18, kDirectorySize);
    // Bitmap information header; the height counts the mask too.
    put32(icon, 22, kInfoHeaderSize);
    put32(icon, 26, kSide);
    put32(icon, 30, 2 * kSide);
    put16(icon, 34, 1);
    put16(icon, 36, 4);
    put32(icon, 42, kIconFieldSize - kPixelsAt);
    put32(icon, 54, 16);  // colours used
    for (std::size_t index = 0; index < kPalette.size(); ++index) {
        const int at = kDirectorySize + kInfoHeaderSize + static_cast<int>(index) * 4;
        icon[at] = static_cast<char>(qBlue(kPalette[index]));
        icon[at + 1] = static_cast<char>(qGreen(kPalette[index]));
        icon[at + 2] = static_cast<char>(qRed(kPalette[index]));
    }

    const QImage pixels =
        image.isNull() ? QImage()
                       : image.convertToFormat(QImage::Format_ARGB32)
                             .scaled(kSide, kSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < kSide; ++y) {
        // Rows are stored from the bottom up.
        const int row = kSide - 1 - y;
        for (int x = 0; x < kSide; ++x) {
            const QRgb pixel = pixels.isNull() ? 0 : pixels.pixel(x, y);
            const int pixelAt = kPixelsAt + row * kPixelRowBytes + x / 2;
            const int maskAt = kMaskAt + row * kMaskRowBytes + x / 8;
            if (qAlpha(pixel) < 128) {
                icon[maskAt] = static_cast<char>(icon[maskAt] | (0x80 >> (x % 8)));
                continue;
            }
            const int colour = nearestColour(pixel);
            icon[pixelAt] = static_cast<char>(icon[pixelAt] | (x % 2 == 0 ? colour << 4 : colour));
        }
    }
    return icon;
}

QImage decodeIco16(const QByteArray& icon) {
    if (icon.size() != kIconFieldSize || get16(icon, 0) != 0 || get16(icon, 2) != 1 ||
        get16(icon, 4) != 1 || get32(icon, 18) != kDirectorySize ||
        get32(icon, 22) != kInfoHeaderSize || get32(icon, 26) != kSide ||
        get32(icon, 30) != 2 * kSide || get16(icon, 36) != 4 || get32(icon, 38) != 0) {
        return {};
    }
    QImage image(kSide, kSide, QImage::Format_ARGB32);
    const auto byteAt = [&icon](int at) { return static_cast<std::uint8_t>(icon[at]); };
    for (int y = 0; y < kSide; ++y) {
        const int row = kSide - 1 - y;
        for (int x = 0; x < kSide; ++x) {
            const bool transparent =
                (byteAt(kMaskAt + row * kMaskRowBytes + x / 8) & (0x80 >> (x % 8))) != 0;
            const std::uint8_t pair = byteAt(kPixelsAt + row * kPixelRowBytes + x / 2);
            const int colour = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
            const int paletteAt = kDirectorySize + kInfoHeaderSize + colour * 4;
            const QRgb rgb = qRgb(byteAt(paletteAt + 2), byteAt(paletteAt + 1), byteAt(paletteAt));
            image.setPixel(x, y, transparent ? qRgba(0, 0, 0, 0) : rgb);
        }
    }
    return image;
}

}  // namespace velmora
