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

// Every builder's frames are pinned byte for byte through the driver
// (ReadTest, WriteTest) and against libmodbus (LibmodbusSlave); a CRC
// trailer checked or refused: ReadTest.ProtocolErrorsEndWithOneDescription.

TEST(ModbusFrame, ExpandBitsCopiesWholeBytes)
{
    const QByteArray data = hex("FF 81 7E");
    EXPECT_EQ(ModbusRTUSlaveExpandBitsToBytes(bytes(data), 0).size(), 0);
    EXPECT_EQ(ModbusRTUSlaveExpandBitsToBytes(bytes(data), 8), hex("FF"));
    EXPECT_EQ(ModbusRTUSlaveExpandBitsToBytes(bytes(data), 9), hex("FF 81"));
}

} // namespace
