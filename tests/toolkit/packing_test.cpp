#include <gtest/gtest.h>

#include <cstring>

#include "bitwise_crc.h"
#include "tools.h"

namespace {

// A buffer whose untouched bytes stay 0xEE.
struct Buffer
{
    unsigned char bytes[16];
    Buffer() { std::memset(bytes, 0xEE, sizeof bytes); }
    QByteArray first(int n) const { return QByteArray(reinterpret_cast<const char *>(bytes), n); }
};

TEST(DataPack, WritesEachDirective)
{
    const unsigned short words[] = {1, 2, 3};
    const unsigned int longs[] = {0x01020304u};
    const unsigned char raw[] = {0xAA, 0xBB};
    Buffer b;
    EXPECT_EQ(DataPack(b.bytes, "CnN", 1, 0x0203, 0x04050607), 7);
    EXPECT_EQ(b.first(8), hex("01 02 03 04 05 06 07 EE"));
    EXPECT_EQ(ByteArrayPack("CnN", 1, 0x0203, 0x04050607), hex("01 02 03 04 05 06 07"));

    EXPECT_EQ(DataPack(b.bytes, "vV", 0x1234, 0x12345678), 6);
    EXPECT_EQ(b.first(6), hex("34 12 78 56 34 12"));

    Buffer skip;
    EXPECT_EQ(DataPack(skip.bytes, "2x3XC", 0x1FF), 6);
    EXPECT_EQ(skip.first(7), hex("00 00 EE EE EE FF EE"));
    EXPECT_EQ(DataPack(skip.bytes, "0x"), 0);
    EXPECT_EQ(DataPack(skip.bytes, ""), 0);

    EXPECT_EQ(DataPack(b.bytes, "3n", words), 6);
    EXPECT_EQ(b.first(6), hex("00 01 00 02 00 03"));
    EXPECT_EQ(ByteArrayPack("3v1N1V2c", words, longs, longs, raw), hex("0100 0200 0300 01020304 04030201 AABB"));
    EXPECT_EQ(ByteArrayPack("SsILil", -1, 0x10002, -2, 0x01020304, 5, 6),
              hex("FFFF 0200 FEFFFFFF 04030201 05000000 06000000"));
    EXPECT_EQ(ByteArrayPack("xXc", 0x141), hex("00 00 41"));
    EXPECT_TRUE(ByteArrayPack("").isEmpty());
}

struct FormatError
{
    const char *format;
    int packResult;  // DataPack; ByteArrayPack always gives an empty array
    int validPrefix; // bytes the directives before the error cover
};

TEST(DataPack, EveryMalformedFormatFailsBeforeTouchingMore)
{
    // Each way a format fails once; every letter's result on random formats:
    // fuzz/fuzz_pack.cpp, against a reading of the format of its own.
    const FormatError cases[] = {
        {"C C", 0, 1},           {"Z", 0, 0},
        {"C3Z", 0, 1},           {"C\xE9", 0, 1},
        {"C2S", -1, 1},          {"2l", -1, 0},
        {"C3", -1, 1},           {"0C", -1, 0},
        {"C0v", -1, 1},          {"99999999999x", -1, 0},
        {"2147483648X", -1, 0},  {"C2147483647X", -1, 1},
        {"C1073741824v", -1, 1}, {"C536870912V", -1, 1},
    };
    const unsigned char source[4] = {1, 2, 3, 4};
    for (const FormatError &c : cases) {
        Buffer b;
        EXPECT_EQ(DataPack(b.bytes, c.format, 0x41, source, source), c.packResult) << c.format;
        EXPECT_EQ(b.first(c.validPrefix), QByteArray(c.validPrefix, 'A')) << c.format;
        EXPECT_EQ(b.first(16).mid(c.validPrefix), QByteArray(16 - c.validPrefix, '\xEE')) << c.format;
        EXPECT_TRUE(ByteArrayPack(c.format, 0x41, source, source).isNull()) << c.format;

        unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        unsigned char more[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(DataUnpack(source, c.format, out, more), -1) << c.format;
        EXPECT_EQ(QByteArray(reinterpret_cast<char *>(more), 4), hex("EE EE EE EE")) << c.format;
    }
    for (const char *growOnly : {"2x", "2X", "0x", "C1x"})
        EXPECT_TRUE(ByteArrayPack(growOnly, 1).isNull()) << growOnly;
}

TEST(DataUnpack, ReadsEachDirective)
{
    const QByteArray in = hex("12 34 56 78 9A BC DE F0");
    // Each directive stores into the next word; the words are read in host
    // (little-endian) order.
    const struct
    {
        const char *format;
        int result;
        quint32 first, second;
    } cases[] = {
        {"nv", 4, 0x1234, 0x7856},
        {"2xC", 3, 0x56, 0},
        {"NV", 8, 0x12345678, 0xF0DEBC9A},
        {"XSs", 5, 0x5634, 0x9A78},
        {"4xI", 8, 0xF0DEBC9A, 0},
        {"Ll", 8, 0x78563412, 0xF0DEBC9A},
        {"2n", 4, 0x56781234, 0},
        {"2v", 4, 0x78563412, 0},
        {"1N1V", 8, 0x12345678, 0xF0DEBC9A},
        {"3c", 3, 0x563412, 0},
        {"", 0, 0, 0},
        {"Z", -1, 0, 0},
        {"2S", -1, 0, 0},
    };
    for (const auto &c : cases) {
        quint32 words[3] = {};
        EXPECT_EQ(DataUnpack(reinterpret_cast<const unsigned char *>(in.constData()), c.format, &words[0],
                             &words[1], &words[2]),
                  c.result)
            << c.format;
        EXPECT_EQ(words[0], c.first) << c.format;
        EXPECT_EQ(words[1], c.second) << c.format;
    }
}

TEST(DataUnpack, SingleBytesTouchOnlyTheirOwnByte)
{
    const unsigned char in[] = {0x12, 0x34};
    unsigned char bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(DataUnpack(in, "Cc", &bytes[0], &bytes[2]), 2);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(bytes), 4), hex("12 EE 34 EE"));
}

TEST(HexToUInt, ReadsUpToLenDigits)
{
    // The boundaries; random texts against a reference: fuzz/fuzz_pack.cpp.
    const struct
    {
        const char *text;
        int len;
        unsigned int value;
    } cases[] = {
        {"0X1f", 4, 31},
        {"0x1F", 3, 1},
        {"0x", 2, 0},
        {"0", 1, 0},
        {"1G", 2, 0},
        {"123456789", 9, 0x23456789u},
        {"FFFFFFFF", 8, 0xFFFFFFFFu},
        {"12", 0, 0},
        {"12", -1, 0},
        {"1\0"
         "2",
         3, 1},
        {"A\xE6", 2, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HexToUInt(c.text, c.len), c.value) << c.text << " len " << c.len;
}

TEST(PlcAddress, PrefixAndNumber)
{
    const struct
    {
        const char *address;
        const char *prefix;
    } prefixes[] = {
        {"HR100", "HR"}, {"_X1", "_X"}, {"FN6HR", "FN"}, {"100", ""}, {"", ""}, {"\xC4X1", ""},
    };
    for (const auto &c : prefixes) {
        EXPECT_EQ(ExtractPrefixSymbol(QByteArray(c.address)), QByteArray(c.prefix)) << c.address;
        EXPECT_EQ(ExtractPrefixSymbol(QString::fromLatin1(c.address)), QByteArray(c.prefix));
    }
    const struct
    {
        const char *address;
        int base;
        int number;
    } numbers[] = {
        {"HR100", 10, 100}, {"X17", 8, 15},   {"X18", 8, 0},      {"HR1A", 16, 26},         {"D100", 16, 53504},
        {"HR", 10, 0},      {"HR100", 2, -1}, {"HR100.5", 10, 0}, {"HR99999999999", 10, 0},
    };
    for (const auto &c : numbers) {
        EXPECT_EQ(ExtractPLCDeviceAddress(QByteArray(c.address), c.base), c.number) << c.address;
        EXPECT_EQ(ExtractPLCDeviceAddress(QString::fromLatin1(c.address), c.base), c.number);
    }
}

// The data type tests are each one comparison of the type: not repeated here.
TEST(PlcCommand, ByteHelpers)
{
    EXPECT_TRUE(getBitData(hex("03 00")));
    EXPECT_FALSE(getBitData(hex("02")));
    EXPECT_FALSE(getBitData(QByteArray()));
    QByteArray a;
    appendBigEndianUShort(a, 0x1234);
    EXPECT_EQ(a, hex("12 34"));
}

} // namespace
