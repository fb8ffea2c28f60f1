#include <gtest/gtest.h>

#include "lib_crc.h"
#include "tools.h"

namespace {

const char CHECK[] = "123456789";

template <typename Crc, typename Update>
Crc fold(Crc crc, Update update)
{
    for (const char *p = CHECK; *p; ++p)
        crc = update(crc, *p);
    return crc;
}

TEST(Crc, CheckValuesOfTheCommonParameterSets)
{
    EXPECT_EQ(fold<unsigned short>(0, update_crc_16), 0xBB3D);
    EXPECT_EQ(fold<unsigned short>(0xFFFF, update_crc_16), 0x4B37); // Modbus, as tools.h tells integrators
    EXPECT_EQ(fold<unsigned short>(0xFFFF, update_crc_ccitt), 0x29B1);
    EXPECT_EQ(fold<unsigned short>(0, update_crc_kermit), 0x2189);
    EXPECT_EQ(static_cast<unsigned short>(~fold<unsigned short>(0, update_crc_dnp)), 0xEA82);
    EXPECT_EQ(~fold<unsigned int>(0xFFFFFFFFu, update_crc_32), 0xCBF43926u);
    unsigned short sick = 0;
    char prev = 0;
    for (const char *p = CHECK; *p; prev = *p++)
        sick = update_crc_sick(sick, *p, prev);
    EXPECT_EQ(static_cast<unsigned short>((sick >> 8) | (sick << 8)), 0x56A6);
}

TEST(Crc, HighBytesGiveTheSameResultWhateverCharSignedness)
{
    const char high = static_cast<char>(0xFF);
    EXPECT_EQ(update_crc_16(0, 1), 0xC0C1);
    EXPECT_EQ(update_crc_16(0, high), 0x4040);
    EXPECT_EQ(update_crc_32(0, high), 0x2D02EF8Du);
    EXPECT_EQ(update_crc_ccitt(0, static_cast<char>(0x80)), 0x9188);
    EXPECT_EQ(update_crc_kermit(0, static_cast<char>(0x80)), 0x8408);
    EXPECT_EQ(update_crc_dnp(0, static_cast<char>(0x80)), 0xA6BC);
    EXPECT_EQ(update_crc_sick(0x8000, high, static_cast<char>(0x80)), 0x8005 ^ 0x80FF);
}

TEST(BlockChecksums, SumsXorAndCrc16)
{
    const unsigned char data[] = {0xFF, 0x02};
    EXPECT_EQ(UInt8CheckSum(data, 2), 0x01);
    EXPECT_EQ(UShortCheckSum(data, 2), 0x0101);
    EXPECT_EQ(XorUInt8CheckSum(data, 2), 0xFD);
    EXPECT_EQ(CRC16Calculate(reinterpret_cast<const unsigned char *>(CHECK), 9), 0xBB3D);
    for (int length : {0, -1})
        EXPECT_EQ(CRC16Calculate(data, length) | UInt8CheckSum(data, length) | UShortCheckSum(data, length)
                      | XorUInt8CheckSum(data, length),
                  0);
}

} // namespace
