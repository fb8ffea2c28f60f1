#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "bitwise_crc.h"
#include "communicatorcommand.h"
#include "tools.h"

namespace {

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

using Edit = std::function<void(QByteArray &)>;

struct ArrayCase
{
    const char *name;
    Edit edit;
    const char *in;
    const char *out;
};

Edit result(QByteArray (*f)(const QByteArray &))
{
    return [f](QByteArray &a) { a = f(a); };
}

unsigned char *raw(QByteArray &a)
{
    return reinterpret_cast<unsigned char *>(a.data());
}

// CopyBits of the bits of source (hex) into the array.
Edit copyBits(const char *source, int start, int count)
{
    return [=](QByteArray &a) {
        QByteArray s = hex(source);
        CopyBits(a, s, start, count);
    };
}

TEST(ByteOrder, ArraysConvertPadAndStayInBounds)
{
    const auto rotate = [](int k, int m) { return [=](QByteArray &a) { RotateArray(raw(a), k, m); }; };
    const ArrayCase cases[] = {
        {"to BE ushort", result(toBigEndianUShortArray), "34 12 78 56", "12 34 56 78"},
        {"to BE ushort, odd", result(toBigEndianUShortArray), "01 02 03", "02 01 00 03"},
        {"to BE ulong", result(toBigEndianULongArray), "78 56 34 12", "12 34 56 78"},
        {"to BE ulong, five", result(toBigEndianULongArray), "01 02 03 04 05", "04 03 02 01 00 00 00 05"},
        {"from BE ushort", [](QByteArray &a) { a = fromBigEndianUShortArray(bytes(a), 2); }, "12 34 56 78", "34 12 78 56"},
        {"from BE ulong", [](QByteArray &a) { a = fromBigEndianULongArray(bytes(a), 1); }, "12 34 56 78", "78 56 34 12"},
        {"from BE, n 0", [](QByteArray &a) { a = fromBigEndianUShortArray(bytes(a), 0); }, "12 34", ""},
        {"from BE, 2n overflows", [](QByteArray &a) { a = fromBigEndianUShortArray(bytes(a), INT_MAX / 2 + 1); },
         "12", ""},
        {"from BE, 4n overflows", [](QByteArray &a) { a = fromBigEndianULongArray(bytes(a), INT_MAX / 4 + 1); }, "12", ""},
        {"to LE ushort, tail kept", toLittleEndianUShortArray, "12 34 56", "34 12 56"},
        {"to LE ulong, tail kept", toLittleEndianULongArray, "12 34 56 78 9A", "78 56 34 12 9A"},
        {"reverse", result(reverseArray), "01 02 03", "03 02 01"},
        {"ReverseArray", [](QByteArray &a) { ReverseArray(a.data(), 4); }, "01 02 03 04 05", "04 03 02 01 05"},
        {"RotateArray", rotate(2, 3), "01 02 03 04 05", "03 04 05 01 02"},
        {"RotateArray, k < 0", rotate(-1, 3), "01 02 03", "01 02 03"},
        {"16 bits", result(To16bitsData), "01", "01 00"},
        {"32 bits unchanged", result(To32bitsData), "01 02 03 04", "01 02 03 04"},
        {"64 bits", result(To64bitsData), "01 02 03 04 05 06 07 08 09", "01 02 03 04 05 06 07 08 09 00 00 00 00 00 00 00"},
        {"shift 4", [](QByteArray &a) { RightShiftNBits(a, 4); }, "AB CD", "DA 0C"},
        {"shift 12", [](QByteArray &a) { RightShiftNBits(a, 12); }, "AB CD EF", "FC 0E AB"},
        {"shift 8", [](QByteArray &a) { RightShiftNBits(a, 8); }, "AB CD EF", "CD EF AB"},
        {"shift < 0", [](QByteArray &a) { RightShiftNBits(a, -3); }, "AB CD", "AB CD"},
        {"shift whole array", [](QByteArray &a) { RightShiftNBits(a, 16); }, "AB CD", "AB CD"},
        {"shift INT_MAX", [](QByteArray &a) { RightShiftNBits(a, INT_MAX); }, "AB CD", "AB CD"},
        {"shift empty", [](QByteArray &a) { RightShiftNBits(a, 1); }, "", ""},
        {"fit 9", [](QByteArray &a) { FitBitArray(a, 9); }, "FF FF FF FF", "FF FF"},
        {"fit grows with zeros", [](QByteArray &a) { FitBitArray(a, 17); }, "FF", "FF 00 00"},
        {"fit < 0", [](QByteArray &a) { FitBitArray(a, -8); }, "FF", "FF"},
        {"clear 9", [](QByteArray &a) { clearUnnecessaryBits(a, 9); }, "FF FF", "FF 01"},
        {"clear 16", [](QByteArray &a) { clearUnnecessaryBits(a, 16); }, "FF FF", "FF FF"},
        {"clear past end", [](QByteArray &a) { clearUnnecessaryBits(a, 17); }, "FF FF", "FF FF"},
        {"set bit 0", [](QByteArray &a) { setBit(a, 0, true); }, "00 80", "01 80"},
        {"clear bit 15", [](QByteArray &a) { setBit(a, 15, false); }, "00 80", "00 00"},
        {"set bit 16, outside", [](QByteArray &a) { setBit(a, 16, true); }, "00 00", "00 00"},
        {"set bit -1, outside", [](QByteArray &a) { setBit(a, -1, true); }, "00 00", "00 00"},
        {"set raw", [](QByteArray &a) { setBit(raw(a), 9, true); }, "00 00", "00 02"},
        {"set raw, bit < 0", [](QByteArray &a) { setBit(raw(a), -9, true); }, "00 00", "00 00"},
        {"copy", copyBits("0D", 6, 4), "00 00", "40 03"},
        {"copy inside both only", copyBits("0D", 14, 8), "00 00", "00 40"},
        {"copy count < 0", copyBits("FF", 0, -1), "00", "00"},
        {"expand", [](QByteArray &a) { a = ExpandBitsToBytes(a, 0, 4); }, "05", "01 00 01 00"},
        {"expand to the end", [](QByteArray &a) { a = ExpandBitsToBytes(a, 2, 6); }, "05", "01 00 00 00 00 00"},
        {"expand past the end", [](QByteArray &a) { a = ExpandBitsToBytes(a, 2, 7); }, "05", ""},
    };
    for (const ArrayCase &c : cases) {
        QByteArray a = hex(c.in);
        const QByteArray shared = a;
        c.edit(a);
        EXPECT_EQ(a, hex(c.out)) << c.name;
        EXPECT_EQ(shared, hex(c.in)) << c.name << ": a copy sharing the data changed";
    }
}

TEST(ByteOrder, CountsRoundUpWithoutWrapping)
{
    const struct
    {
        unsigned int (*f)(unsigned int, unsigned int);
        unsigned int start, count, n;
    } cases[] = {
        {NumOfBitsToNumOfWords, 0, 16, 1},  {NumOfBitsToNumOfWords, 1, 16, 2},
        {NumOfBitsToNumOfWords, 0, 0, 0},   {NumOfBitsToNumOfWords, UINT_MAX, 1, 0x10000000u},
        {NumOfBitsToNumOfDWords, 1, 32, 2}, {NumOfBitsToNumOfBytes, 3, 5, 1},
        {NumOfBitsToNumOfBytes, 3, 6, 2},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.f(c.start, c.count), c.n) << c.start << "+" << c.count;
    EXPECT_EQ(NumOfBytesToNumOfWords(3), 2u);
    EXPECT_EQ(NumOfBytesToNumOfDWords(5), 2u);
    EXPECT_EQ(NumOfBytesToNumOfQuadWords(UINT_MAX), 0x20000000u);
}

TEST(Bits, ScalarWidthAndArrayBoundsLimitTheBitNumber)
{
    EXPECT_EQ(setBit(static_cast<unsigned char>(0), 8), 0);
    EXPECT_EQ(setBit(static_cast<unsigned char>(0), 7), 0x80);
    EXPECT_EQ(clearBit(static_cast<unsigned short>(0xFFFF), 16), 0xFFFF);
    EXPECT_EQ(clearBit(0xFFFFFFFFu, 31), 0x7FFFFFFFu);
    EXPECT_EQ(setBit(0u, 32), 0u);
    EXPECT_TRUE(getBit(static_cast<unsigned short>(0x8000), 15));
    EXPECT_FALSE(getBit(0xFFFFFFFFu, 40));

    const QByteArray a = hex("00 80");
    EXPECT_TRUE(getBit(a, 15));
    EXPECT_TRUE(getBit(bytes(a), 15));
    for (int i : {14, 16, -1, INT_MAX})
        EXPECT_FALSE(getBit(a, i)) << i;
}

TEST(Scalars, LittleEndianValues)
{
    EXPECT_EQ(intToByteArray(0x12345678), hex("78 56 34 12"));
    EXPECT_EQ(QByteArrayToInt(hex("78 56 34 12 FF")), 0x12345678);
    EXPECT_EQ(QByteArrayToInt(hex("34 12")), 0x1234);
    EXPECT_EQ(QByteArrayToInt(QByteArray()), 0);
    EXPECT_EQ(QByteArrayToShort(hex("FF FF")), -1);
    EXPECT_EQ(QByteArrayToShort(hex("FF")), 255);
    EXPECT_EQ(QByteArrayToWord(hex("34 12")), 0x1234);
    EXPECT_EQ(shortToByteArray(-2), hex("FE FF"));
}

TEST(SafeData, LengthFollowsTheDataType)
{
    const struct
    {
        int type, count, length;
    } cases[] = {
        {0, 9, 2},
        {0, 8, 1},
        {6, 9, 2},
        {1, 3, 3},
        {2, 3, 6},
        {3, 3, 12},
        {4, 3, 24},
        {5, 7, 7},
        {7, 3, 0},
        {-1, 3, 0},
        {0, -1, 0},
        {2, -1, 0},
        {2, INT_MAX, 0},
        {4, INT_MAX / 8 + 1, 0},
        {0, INT_MAX, 268435456},
    };
    for (const auto &c : cases)
        EXPECT_EQ(GetSafeDataLen(CommunicatorCommand(c.type, c.count, "HR1")), c.length)
            << "type " << c.type << " count " << c.count;
    const CommunicatorCommand words(CommunicatorCommand::Word, 2, "HR1");
    EXPECT_EQ(ToSafeData(words, hex("01 02 03 04 05")), hex("01 02 03 04"));
    EXPECT_EQ(ToSafeData(words, hex("01")), hex("01 00 00 00"));
    EXPECT_TRUE(ToSafeData(CommunicatorCommand(CommunicatorCommand::Word, -5, "HR1"), hex("01")).isEmpty());
}

} // namespace
