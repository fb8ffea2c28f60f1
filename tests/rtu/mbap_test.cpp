// Modbus TCP's framing: the RTU frame's unit and PDU under an MBAP header,
// and a stream cut into frames whatever pieces it comes in.
#include <gtest/gtest.h>

#include "mbap.h"
#include "modbuscrc.h"

namespace {

TEST(Mbap, CarriesTheRtuFramesUnitAndPduAndBack)
{
    QByteArray rtu = QByteArray::fromHex("01100004000102 0007");
    appendModbusCrc(rtu);
    MbapFrame frame;
    ASSERT_TRUE(mbapFromRtu(rtu, 0xBEEF, &frame));
    EXPECT_EQ(mbapBytes(frame).toHex(), QByteArray("beef00000009011000040001020007"));
    EXPECT_EQ(rtuFromMbap(frame), rtu);
    rtu[2] = char(rtu[2] ^ 1);
    EXPECT_FALSE(mbapFromRtu(rtu, 1, &frame)) << "a wrong CRC";
    EXPECT_FALSE(mbapFromRtu(QByteArray::fromHex("0103"), 1, &frame));
}

TEST(Mbap, ReaderCutsAStreamIntoFramesOrSaysWhatNoPeerSends)
{
    const struct
    {
        const char *hex;
        int whole;       // frames before the stream ends or breaks
        const char *why; // empty: it ends partial
    } cases[] = {
        {"000100000006010300000002000200000003010500", 2, ""},
        {"000100000006010300", 0, ""},
        {"000100010006010300000002", 0, "protocol identifier 1, not 0 (Modbus)"},
        {"00010000000101", 0, "length 1, outside 2 to 254"},
        {"0001000000ff01", 0, "length 255, outside 2 to 254"},
        {"00010000000601030000000200020000", 1, ""},
    };
    for (const auto &c : cases) {
        const QByteArray bytes = QByteArray::fromHex(c.hex);
        MbapReader reader;
        for (const char byte : bytes)
            reader.feed(&byte, 1);
        MbapFrame frame;
        QString why;
        int whole = 0;
        MbapReader::Status status;
        while ((status = reader.next(&frame, &why)) == MbapReader::Whole)
            ++whole;
        EXPECT_EQ(whole, c.whole) << c.hex;
        EXPECT_EQ(status, *c.why ? MbapReader::Malformed : MbapReader::Partial) << c.hex;
        EXPECT_EQ(why, QLatin1String(c.why)) << c.hex;
    }
    MbapReader reader;
    QByteArray largest = QByteArray::fromHex("0007000000fe01") + QByteArray(253, '\x03');
    reader.feed(largest.constData(), largest.size());
    MbapFrame frame;
    QString why;
    ASSERT_EQ(reader.next(&frame, &why), MbapReader::Whole);
    EXPECT_EQ(frame.transaction, 7);
    EXPECT_EQ(frame.pdu.size(), 253);
    EXPECT_EQ(reader.pending(), 0);
}

} // namespace
