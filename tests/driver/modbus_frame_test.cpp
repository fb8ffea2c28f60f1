#include <gtest/gtest.h>

#include "modbus_rtu_frame.h"
#include "scripted_port.h"

namespace {

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

TEST(ModbusFrame, CrcOfTheCheckStringTrailsLowByteFirst)
{
    QByteArray frame("123456789");
    EXPECT_EQ(ModbusRTUSlaveCRC(bytes(frame), 9), 0x4B37);
    frame += hex("37 4B");
    EXPECT_TRUE(ModbusRTUSlaveCheckCRC(reinterpret_cast<unsigned char *>(frame.data()), 11));
}

TEST(ModbusFrame, CheckCrcAcceptsOnlyTheRightTrailer)
{
    QByteArray exception = hex("01 83 02 C0 F1");
    EXPECT_TRUE(ModbusRTUSlaveCheckCRC(reinterpret_cast<unsigned char *>(exception.data()), 5));
    exception[4] = char(0xF2);
    EXPECT_FALSE(ModbusRTUSlaveCheckCRC(reinterpret_cast<unsigned char *>(exception.data()), 5));
    QByteArray empty = hex("FF FF");
    EXPECT_TRUE(ModbusRTUSlaveCheckCRC(reinterpret_cast<unsigned char *>(empty.data()), 2));
}

TEST(ModbusFrame, BuildersPutFieldsHighByteFirst)
{
    EXPECT_EQ(hexOf(ModbusRTUSlaveBuildReadDevicesRequest(1, 3, 0, 10)), "01 03 00 00 00 0A C5 CD");
    EXPECT_EQ(hexOf(ModbusRTUSlaveBuildReadDevicesRequest(1, 2, 258, 3).left(6)), "01 02 01 02 00 03");
    EXPECT_EQ(hexOf(ModbusRTUSlaveBuildFn16Request(1, 100, 1, hex("12 34"))),
              "01 10 00 64 00 01 02 12 34 A3 03");
    EXPECT_EQ(hexOf(ModbusRTUSlaveBuildFn6Request(1, 100, hex("12 34"))), "01 06 00 64 12 34 C5 62");
    EXPECT_EQ(hexOf(ModbusRTUSlaveBuildFn15Request(1, 19, 10, hex("CD 01"))),
              "01 0F 00 13 00 0A 02 CD 01 72 CB");
    EXPECT_EQ(hexOf(ModbusRTUSlaveBuildFn5Request(1, 172, true)), "01 05 00 AC FF 00 4C 1B");
    EXPECT_EQ(hexOf(ModbusRTUSlaveBuildFn5Request(1, 172, false)), "01 05 00 AC 00 00 0D EB");
    // The byte count field keeps the low 8 bits of the data length.
    EXPECT_EQ(quint8(ModbusRTUSlaveBuildFn16Request(1, 0, 150, QByteArray(300, 0)).at(6)), 0x2C);
}

TEST(ModbusFrame, ExpandBitsCopiesWholeBytes)
{
    const QByteArray data = hex("FF 81 7E");
    EXPECT_EQ(ModbusRTUSlaveExpandBitsToBytes(bytes(data), 0).size(), 0);
    EXPECT_EQ(ModbusRTUSlaveExpandBitsToBytes(bytes(data), 8), hex("FF"));
    EXPECT_EQ(ModbusRTUSlaveExpandBitsToBytes(bytes(data), 9), hex("FF 81"));
}

} // namespace
