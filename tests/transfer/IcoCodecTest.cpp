#include "transfer/FileIcon.h"
#include "transfer/IcoCodec.h"

#include "protocol/PeerMessages.h"

#include <gtest/gtest.h>

#include <QtEndian>

using namespace velmora;

namespace {

std::uint32_t u32At(const QByteArray& bytes, int at) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + at);
}

}  // namespace

TEST(IcoCodec, EncodesA16ColourIconAndReadsItBack) {
    QImage image(16, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            // Column 0 transparent; the rest in colours of the palette and near ones.
            const QRgb colour = x == 0  ? qRgba(10, 20, 30, 40)
                                : x < 8 ? qRgb(255, 0, 0)
                                : y < 8 ? qRgb(250, 250, 5)
                                        : qRgb(0, 0, 128);
            image.setPixel(x, y, colour);
        }
    }
    const QByteArray icon = encodeIco16(image);
    ASSERT_EQ(icon.size(), kIconFieldSize);
    EXPECT_EQ(icon.left(6), QByteArray::fromHex("000001000100"));
    EXPECT_EQ(static_cast<std::uint8_t>(icon[6]), 16);
    EXPECT_EQ(static_cast<std::uint8_t>(icon[8]), 16);
    EXPECT_EQ(u32At(icon, 14), 296U);
    EXPECT_EQ(u32At(icon, 18), 22U);
    EXPECT_EQ(u32At(icon, 22), 40U);
    EXPECT_EQ(u32At(icon, 30), 32U);  // doubled height

    const QImage decoded = decodeIco16(icon);
    ASSERT_FALSE(decoded.isNull());
    ASSERT_EQ(decoded.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(decoded.pixel(0, 5)), 0);
    EXPECT_EQ(decoded.pixel(3, 0), qRgb(255, 0, 0));
    EXPECT_EQ(decoded.pixel(9, 2), qRgb(255, 255, 0));
    EXPECT_EQ(decoded.pixel(15, 15), qRgb(0, 0, 128));
    EXPECT_EQ(encodeIco16(decoded), icon);

    // A larger picture is scaled down.
    QImage large(64, 64, QImage::Format_ARGB32);
    large.fill(qRgb(0, 255, 0));
    EXPECT_EQ(decodeIco16(encodeIco16(large)).pixel(7, 7), qRgb(0, 255, 0));
    // Nothing to show: all transparent.
    const QImage none = decodeIco16(encodeIco16(QImage()));
    ASSERT_FALSE(none.isNull());
    EXPECT_EQ(qAlpha(none.pixel(8, 8)), 0);
}

TEST(IcoCodec, RefusesWhatIsNotSuchAnIcon) {
    const QByteArray icon = encodeIco16(plainPageImage());
    EXPECT_TRUE(decodeIco16(QByteArray()).isNull());
    EXPECT_TRUE(decodeIco16(icon.left(317)).isNull());
    EXPECT_TRUE(decodeIco16(QByteArray(kIconFieldSize, '\0')).isNull());
    QByteArray wrongDepth = icon;
    wrongDepth[36] = 8;
    EXPECT_TRUE(decodeIco16(wrongDepth).isNull());
    QByteArray compressed = icon;
    compressed[38] = 1;
    EXPECT_TRUE(decodeIco16(compressed).isNull());
    // Without a GUI application the plain page stands for every file.
    EXPECT_EQ(fileIconField(QStringLiteral("/no/such/file.txt")), icon);
}
