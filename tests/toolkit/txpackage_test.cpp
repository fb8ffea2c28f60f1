#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "bitwise_crc.h"
#include "qt_test_compat.h"
#include "txpackage.h"

namespace {

TEST(TxPackage, AppendsRecordSections)
{
    TxPackage p;
    EXPECT_EQ(p.sectionStartIndex(0), -1);
    p.appendWord(0x1234);
    p.appendByte(0xAB);
    p.appendDWord(0x01020304u);
    p.appendString(QStringLiteral("Hi"));
    p.appendSection(hex("FF 00"));
    p.appendByte2Ascii(0x0F);
    EXPECT_EQ(p.byteArrayData(), hex("34 12 AB 04 03 02 01") + "Hi" + hex("FF 00") + "0F");
    const int sizes[] = {2, 1, 4, 2, 2, 2};
    const int starts[] = {0, 2, 3, 7, 9, 11};
    ASSERT_EQ(p.numberOfSections(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(p.sectionSize(i), sizes[i]) << i;
        EXPECT_EQ(p.sectionStartIndex(i), starts[i]) << i;
    }
    EXPECT_EQ(p.dataAt(2), hex("04 03 02 01"));
    EXPECT_EQ(p.sectionStartIndex(6), -1);
    EXPECT_EQ(p.arrayToInt(hex("F0 01")), 0xF0);
    EXPECT_EQ(p.toString(), "(0X34 0X12 0Xab 0X4 0X3 0X2 0X1 0X48 0X69 0Xff 0X0 0X30 0X46 ) : "
                                + QString::fromLatin1("4\x12\xAB\x04\x03\x02\x01Hi\xFF"));
    p.clearAll();
    EXPECT_EQ(p.totalSize() + p.numberOfSections(), 0);
}

TEST(TxPackage, ChecksInBinaryAndAscii)
{
    TxPackage p;
    p.appendLRCByte();
    EXPECT_EQ(p.byteArrayData(), hex("00"));
    p.setData(hex("FF 02"));
    p.appendLRCAscii();
    EXPECT_EQ(p.byteArrayData(), hex("FF 02") + "01");
    p.setData(hex("FF 02"));
    p.appendFCSAscii(7);
    p.appendLRCByte();
    EXPECT_EQ(p.byteArrayData(), hex("FF 02") + "FD" + hex("8B")); // FF+02+'F'+'D' = 0x18B

    p.setData(hex("01 02 04 08"));
    const struct
    {
        int n;
        int fcs;
    } fcs[] = {{0, 0x0F}, {1, 0x07}, {3, 0x01}, {4, 0}, {9, 0}, {-3, 0x0F}};
    for (const auto &c : fcs)
        EXPECT_EQ(TxPackage::calculateFCS(&p, c.n), c.fcs) << c.n;
    EXPECT_EQ(TxPackage::calculateFCS(nullptr, 0), 0);
}

TEST(TxPackage, BuffersAndSectionListsAreReplacedSafely)
{
    TxPackage p;
    p.appendWord(0x1234);
    char raw[] = {'a', 'b', 'c'};
    EXPECT_TRUE(p.setData(raw, 3));
    EXPECT_EQ(p.dataAt(0), QByteArray("ab")); // old lengths over new bytes
    EXPECT_FALSE(p.setData(raw, -1));
    EXPECT_FALSE(p.setData(nullptr, 2));
    p.data()[0] = 'z';
    EXPECT_EQ(p.byteArrayData(), QByteArray("zbc"));
    p.setData(QByteArray("x"));
    EXPECT_EQ(p.dataAt(0), QByteArray("x")); // cut at the end of the buffer

    p.setSectionSize(listOf({2, 3}));
    EXPECT_EQ(p.totalSize(), 5);
    p.setSectionSize(listOf({-4, 1}));
    EXPECT_EQ(p.totalSize(), 0);
    p.setSectionSize(listOf({INT_MAX, 1})); // refused
    EXPECT_EQ(p.sectionStartIndex(1), -4);  // the list before
    p.setSectionSize(EmptyPackageSizeList());
    EXPECT_EQ(p.numberOfSections(), 0);
}

TEST(TxPackage, NegativeEntriesReadTheirLengthSafely)
{
    const struct
    {
        const char *name;
        std::vector<int> sizes;
        int section, size;
        const char *data;
    } cases[] = {
        {"length from section 1", {2, 4, -1}, 2, 3, "CDE"},
        {"names itself", {2, 4, -2}, 2, 0, ""},
        {"names a negative entry", {2, -3, -1}, 2, 0, ""},
        {"names a section out of range", {2, 4, -7}, 2, 0, ""},
        {"INT_MIN entry", {2, 4, INT_MIN}, 2, 0, ""},
        {"names a section shorter than 4", {2, 3, -1}, 2, 0, ""},
        {"names a section past the buffer", {10, 4, -1}, 2, 0, ""},
        {"names a section with a negative start", {-1, 4}, 0, 0, ""},
        {"negative start", {-3, 4}, 1, 4, ""},
        {"stored length negative", {0, 4, -1}, 2, 0, ""},
        {"invalid section number", {2, 4}, 5, 0, ""},
    };
    for (const auto &c : cases) {
        TxPackage p;
        p.setSectionSize(listOf(c.sizes));
        p.setData(QByteArray(c.name).startsWith("stored") ? hex("FF FF FF FF 00") : "AB" + hex("03 00 00 00") + "CDEFGH");
        EXPECT_EQ(p.sectionSize(c.section), c.size) << c.name;
        EXPECT_EQ(p.dataAt(c.section), QByteArray(c.data)) << c.name;
    }
}

} // namespace
