#include "base/ByteLayout.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(ByteLayout, WritesLittleEndianAndReadsItBack) {
    ByteWriter writer;
    writer.u8(0x01).u16(0x0302).u32(0x07060504).bytes(QByteArray("xy")).zeros(2);
    const QByteArray bytes = writer.take();
    EXPECT_EQ(bytes, QByteArray::fromHex("0102030405060778790000"));

    ByteReader reader(bytes);
    EXPECT_EQ(reader.u8(), 0x01);
    EXPECT_EQ(reader.u16(), 0x0302);
    EXPECT_EQ(reader.u32(), 0x07060504u);
    EXPECT_EQ(reader.copy(2), QByteArray("xy"));
    EXPECT_EQ(reader.remaining(), 2u);
    reader.skip(2);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(loadU32(bytes, 3), 0x07060504u);
}

TEST(ByteLayout, AReadPastTheEndFailsAndEveryLaterReadGivesZero) {
    const QByteArray bytes = QByteArray::fromHex("ffffff");
    ByteReader reader(bytes);
    EXPECT_EQ(reader.u32(), 0u);
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(reader.u8(), 0);
    EXPECT_TRUE(reader.bytes(1).empty());
    EXPECT_EQ(reader.remaining(), 0u);
}

TEST(ByteLayout, StoresFieldsInPlace) {
    ByteWriter writer;
    writer.u32(0).u8(9);
    storeU32(writer.written(), 0, 0xAABBCCDD);
    storeU16(writer.written(), 3, 0x1122);
    EXPECT_EQ(writer.take(), QByteArray::fromHex("ddccbb2211"));
}

}  // namespace
}  // namespace velmora
