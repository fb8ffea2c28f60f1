#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "communicatorcommand.h"
#include "tools.h"

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

struct Conversion
{
    const char *name;
    std::function<QByteArray(const QByteArray &)> convert;
    const char *in;
    const char *out;
};

TEST(ByteOrder, ConvertersSwapAndPad)
{
    const auto inPlace = [](void (*f)(QByteArray &)) {
        return [f](const QByteArray &a) { QByteArray b(a); f(b); return b; };
    };
    const Conversion cases[] = {
        {"ushort", toBigEndianUShortArray, "34 12 78 56", "12 34 56 78"},
        {"ushort odd", toBigEndianUShortArray, "01 02 03", "02 01 00 03"},
        {"ushort empty", toBigEndianUShortArray, "", ""},
        {"ulong", toBigEndianULongArray, "78 56 34 12", "12 34 56 78"},
        {"ulong five", toBigEndianULongArray, "01 02 03 04 05", "04 03 02 01 00 00 00 05"},
        {"from ushort", [](const QByteArray &a) { return fromBigEndianUShortArray(bytes(a), 2); },
         "12 34 56 78", "34 12 78 56"},
        {"from ulong", [](const QByteArray &a) { return fromBigEndianULongArray(bytes(a), 1); },
         "12 34 56 78", "78 56 34 12"},
        {"to little ushort, odd tail kept", inPlace(toLittleEndianUShortArray), "12 34 56", "34 12 56"},
        {"to little ulong, tail kept", inPlace(toLittleEndianULongArray),
         "12 34 56 78 9A", "78 56 34 12 9A"},
        {"reverse", reverseArray, "01 02 03", "03 02 01"},
        {"16 bits", To16bitsData, "01", "01 00"},
        {"32 bits unchanged", To32bitsData, "01 02 03 04", "01 02 03 04"},
        {"64 bits", To64bitsData, "01 02 03 04 05 06 07 08 09", "01 02 03 04 05 06 07 08 09 00 00 00 00 00 00 00"},
    };
    for (const Conversion &c : cases)
        EXPECT_EQ(c.convert(hex(c.in)), hex(c.out)) << c.name;
}

TEST(ByteOrder, FromBigEndianRefusesCountsWithoutBytes)
{
    const QByteArray data = hex("12 34 56 78");
    for (int n : {0, -1, INT_MIN, INT_MAX / 2 + 1})
        EXPECT_TRUE(fromBigEndianUShortArray(bytes(data), n).isEmpty()) << n;
    for (int n : {0, -1, INT_MIN, INT_MAX / 4 + 1})
        EXPECT_TRUE(fromBigEndianULongArray(bytes(data), n).isEmpty()) << n;
}

TEST(ByteOrder, ArraysAreRotatedAndReversedInPlace)
{
    QByteArray a = hex("01 02 03 04 05");
    RotateArray(reinterpret_cast<unsigned char *>(a.data()), 2, 3);
    EXPECT_EQ(a, hex("03 04 05 01 02"));
    RotateArray(reinterpret_cast<unsigned char *>(a.data()), -1, 3);
    EXPECT_EQ(a, hex("03 04 05 01 02"));
    ReverseArray(a.data(), 1);
    ReverseArray(a.data(), -4);
    EXPECT_EQ(a, hex("03 04 05 01 02"));
    ReverseArray(a.data(), 4);
    EXPECT_EQ(a, hex("01 05 04 03 02"));
}

TEST(ByteOrder, CountsRoundUpWithoutWrapping)
{
    EXPECT_EQ(NumOfBitsToNumOfWords(0, 16), 1u);
    EXPECT_EQ(NumOfBitsToNumOfWords(1, 16), 2u);
    EXPECT_EQ(NumOfBitsToNumOfWords(0, 0), 0u);
    EXPECT_EQ(NumOfBitsToNumOfWords(UINT_MAX, 1), 0x10000000u);
    EXPECT_EQ(NumOfBitsToNumOfDWords(1, 32), 2u);
    EXPECT_EQ(NumOfBitsToNumOfBytes(3, 5), 1u);
    EXPECT_EQ(NumOfBitsToNumOfBytes(3, 6), 2u);
    EXPECT_EQ(NumOfBytesToNumOfWords(3), 2u);
    EXPECT_EQ(NumOfBytesToNumOfDWords(5), 2u);
    EXPECT_EQ(NumOfBytesToNumOfQuadWords(UINT_MAX), 0x20000000u);
}

struct Shift
{
    const char *in;
    int n;
    const char *out;
};

TEST(BitArray, RightShiftNBits)
{
    const Shift cases[] = {
        {"AB CD", 4, "DA 0C"},
        {"AB CD EF", 12, "FC 0E AB"},
        {"AB CD EF", 8, "CD EF AB"},
        {"AB CD", 0, "AB CD"},
        {"AB CD", -3, "AB CD"},
        {"AB CD", 16, "AB CD"},
        {"AB CD", INT_MAX, "AB CD"},
        {"", 1, ""},
    };
    for (const Shift &c : cases) {
        QByteArray a = hex(c.in);
        const QByteArray shared = a;
        RightShiftNBits(a, c.n);
        EXPECT_EQ(a, hex(c.out)) << c.in << " >> " << c.n;
        EXPECT_EQ(shared, hex(c.in)) << "a copy sharing the data must not change";
    }
}

TEST(BitArray, FitAndClearBits)
{
    QByteArray a = hex("FF FF FF FF");
    FitBitArray(a, 9);
    EXPECT_EQ(a, hex("FF FF"));
    clearUnnecessaryBits(a, 16);
    EXPECT_EQ(a, hex("FF FF"));
    clearUnnecessaryBits(a, 9);
    EXPECT_EQ(a, hex("FF 01"));
    clearUnnecessaryBits(a, 17); // last byte past the end
    clearUnnecessaryBits(a, -1);
    FitBitArray(a, -8);
    EXPECT_EQ(a, hex("FF 01"));
    FitBitArray(a, 24);
    EXPECT_EQ(a, hex("FF 01 00"));
}

TEST(BitArray, RegisterBitReadCombination)
{
    // Bits 5..14 of the registers 0xA5F0, 0x0F0F on the wire.
    const QByteArray wire = hex("A5 F0 0F 0F");
    const unsigned int words = NumOfBitsToNumOfWords(5, 10);
    ASSERT_EQ(words, 1u);
    QByteArray bits = fromBigEndianUShortArray(bytes(wire), int(words));
    RightShiftNBits(bits, 5);
    FitBitArray(bits, 10);
    clearUnnecessaryBits(bits, 10);
    EXPECT_EQ(bits, hex("2F 01")); // 0xA5F0 >> 5 = 0x52F, 10 bits = 0x12F
}

TEST(BitArray, SingleBitsStayInsideTheArray)
{
    QByteArray a = hex("00 80");
    EXPECT_TRUE(getBit(a, 15));
    EXPECT_FALSE(getBit(a, 14));
    EXPECT_FALSE(getBit(a, 16));
    EXPECT_FALSE(getBit(a, -1));
    EXPECT_FALSE(getBit(a, INT_MAX));
    setBit(a, 0, true);
    setBit(a, 15, false);
    setBit(a, 16, true);
    setBit(a, -1, true);
    EXPECT_EQ(a, hex("01 00"));
    unsigned char raw[2] = {0, 0};
    setBit(raw, 9, true);
    setBit(raw, -9, true);
    EXPECT_EQ(raw[1], 0x02);
    EXPECT_TRUE(getBit(raw, 9));
    EXPECT_FALSE(getBit(raw, -9));
}

TEST(BitArray, CopyAndExpandBits)
{
    QByteArray dst = hex("00 00");
    QByteArray src = hex("0D");
    CopyBits(dst, src, 6, 4);
    EXPECT_EQ(dst, hex("40 03"));
    CopyBits(dst, src, 14, 8); // only bits inside both arrays move
    EXPECT_EQ(dst, hex("40 43"));
    CopyBits(dst, src, 0, -1);
    EXPECT_EQ(dst, hex("40 43"));

    EXPECT_EQ(ExpandBitsToBytes(hex("05"), 0, 4), hex("01 00 01 00"));
    EXPECT_EQ(ExpandBitsToBytes(hex("05"), 2, 6), hex("01 00 00 00 00 00"));
    EXPECT_TRUE(ExpandBitsToBytes(hex("05"), 2, 7).isEmpty());
    EXPECT_TRUE(ExpandBitsToBytes(hex("05"), 0, 0).isEmpty());
}

TEST(ScalarBits, WidthLimitsTheBitNumber)
{
    EXPECT_EQ(setBit(static_cast<unsigned char>(0), 8), 0);
    EXPECT_EQ(setBit(static_cast<unsigned char>(0), 7), 0x80);
    EXPECT_EQ(setBit(static_cast<unsigned short>(0), 15), 0x8000);
    EXPECT_EQ(setBit(static_cast<unsigned short>(0), 16), 0);
    EXPECT_EQ(setBit(0u, 31), 0x80000000u);
    EXPECT_EQ(setBit(0u, 32), 0u);
    EXPECT_EQ(clearBit(static_cast<unsigned char>(0xFF), 0), 0xFE);
    EXPECT_EQ(clearBit(static_cast<unsigned short>(0xFFFF), 16), 0xFFFF);
    EXPECT_EQ(clearBit(0xFFFFFFFFu, 31), 0x7FFFFFFFu);
    EXPECT_TRUE(getBit(static_cast<unsigned short>(0x8000), 15));
    EXPECT_FALSE(getBit(static_cast<unsigned char>(0xFF), 8));
    EXPECT_FALSE(getBit(0xFFFFFFFFu, 40));
}

TEST(Scalars, LittleEndianValues)
{
    EXPECT_EQ(intToByteArray(0x12345678), hex("78 56 34 12"));
    EXPECT_EQ(QByteArrayToInt(hex("78 56 34 12 FF")), 0x12345678);
    EXPECT_EQ(QByteArrayToInt(hex("FF FF FF FF")), -1);
    EXPECT_EQ(QByteArrayToInt(hex("34 12")), 0x1234);
    EXPECT_EQ(QByteArrayToInt(QByteArray()), 0);
    EXPECT_EQ(QByteArrayToShort(hex("FF FF")), -1);
    EXPECT_EQ(QByteArrayToShort(hex("FF")), 255);
    EXPECT_EQ(QByteArrayToWord(hex("34 12")), 0x1234);
    EXPECT_EQ(QByteArrayToWord(QByteArray()), 0);
    EXPECT_EQ(wordToByteArray(0xABCD), hex("CD AB"));
    EXPECT_EQ(shortToByteArray(-2), hex("FE FF"));
}

TEST(SafeData, LengthFollowsTheDataType)
{
    const struct { int type; int count; int length; } cases[] = {
        {0, 9, 2}, {0, 8, 1}, {6, 9, 2}, {1, 3, 3}, {2, 3, 6}, {3, 3, 12}, {4, 3, 24},
        {5, 7, 7}, {7, 3, 0}, {-1, 3, 0},
        {0, -1, 0}, {2, -1, 0}, {2, INT_MAX, 0}, {4, INT_MAX / 8 + 1, 0}, {0, INT_MAX, 268435456},
    };
    for (const auto &c : cases)
        EXPECT_EQ(GetSafeDataLen(CommunicatorCommand(c.type, c.count, "HR1")), c.length)
            << "type " << c.type << " count " << c.count;

    const CommunicatorCommand words(2, 2, "HR1");
    EXPECT_EQ(ToSafeData(words, hex("01 02 03 04 05")), hex("01 02 03 04"));
    EXPECT_EQ(ToSafeData(words, hex("01")), hex("01 00 00 00"));
    EXPECT_TRUE(ToSafeData(CommunicatorCommand(2, -5, "HR1"), hex("01")).isEmpty());
}

} // namespace
