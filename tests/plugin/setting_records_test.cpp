#include <gtest/gtest.h>

#include "bitwise_crc.h"
#include "drv_dev_setting.h"
#include "qt_test_compat.h"

namespace {

template <typename Record>
QByteArray streamed(const Record &record, QDataStream::ByteOrder order = QDataStream::BigEndian)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(order);
    out << record;
    return bytes;
}

TEST(DriverSettingRecord, StreamsFourBigEndianNumbers)
{
    EXPECT_EQ(streamed(DriverSetting(500, 3, 1, 0)), hex("000001F4 00000003 00000001 00000000"));
    EXPECT_EQ(streamed(DriverSetting(500, 3, 1, 0), QDataStream::LittleEndian),
              hex("F4010000 03000000 01000000 00000000"));
    EXPECT_EQ(streamed(DriverSetting(500, 3, 1, -1)).right(4), hex("FFFFFFFF"));
}

TEST(DriverSettingRecord, ReadingKeepsTheExtrasAndStopsAtTheEnd)
{
    DriverSetting record(0, 0, 0, 0, QString(), 0, "keep", true);
    QByteArray bytes = streamed(DriverSetting(500, 3, 1, -1));
    QDataStream in(bytes);
    in >> record;
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_EQ(streamed(record), bytes);
    EXPECT_EQ(record.extraText, "keep");
    EXPECT_TRUE(record.extraFlag);

    QByteArray shortBytes = bytes.left(6);
    QDataStream early(shortBytes);
    early >> record;
    EXPECT_EQ(early.status(), QDataStream::ReadPastEnd);
    EXPECT_EQ(streamed(record), hex("000001F4 00000000 00000000 00000000"));
}

// The six-argument form keeps no extra text; copy() takes all but the flag.
TEST(DriverSettingRecord, ConstructorsAndCopy)
{
    EXPECT_TRUE(DriverSetting(1, 2, 3, 4, "ignored", 77).extraText.isNull());
    DriverSetting target(0, 0, 0, 0, QString(), 0, "old", false);
    target.copy(DriverSetting(9, 8, 7, 6, "ignored", 1, "text", true));
    EXPECT_EQ(streamed(target), hex("00000009 00000008 00000007 00000006"));
    EXPECT_EQ(target.extraText, "text");
    EXPECT_FALSE(target.extraFlag);
}

TEST(DriverSettingRecord, DumpKeepsTheTrailingSpace)
{
    DebugCapture capture;
    DriverSetting(500, 3, 1, 0).dump();
    DriverSetting(-5, 0, 300, 2).dump();
    EXPECT_EQ(DebugCapture::messages(),
              strings({"timeout: 500 retry: 3 stationid: 1 delay: 0 ", "timeout: -5 retry: 0 stationid: 300 delay: 2 "}));
}

DeviceSetting defaultSerial()
{
    return DeviceSetting(DEVICE_TYPE_SERIAL, "COM2", 9600, 8, 0, 2);
}

DeviceSetting withTwoEntries()
{
    DeviceSetting record = defaultSerial();
    record.setSocketData(listOf({qMakePair(QString("10.0.0.1"), QString("502")),
                                 qMakePair(QString("10.0.0.2"), QString("x"))}));
    return record;
}

TEST(DeviceSettingRecord, StreamsTheDefaultSerialRecord)
{
    EXPECT_EQ(streamed(defaultSerial()), hex("00000010 00000008 0043004F004D0032 00002580 00000008 00000000 00000002"
                                             "00000000 FFFFFFFF 00000000 00000000"));
    EXPECT_EQ(streamed(defaultSerial(), QDataStream::LittleEndian),
              hex("10000000 08000000 43004F004D003200 80250000 08000000 00000000 02000000"
                  "00000000 FFFFFFFF 00000000 00000000"));

    DeviceSetting nullIp = defaultSerial();
    nullIp.socketData.append(qMakePair(QString(), quint16(502)));
    EXPECT_TRUE(streamed(nullIp).endsWith(hex("00000001 FFFFFFFF 01F6")));
}

TEST(DeviceSettingRecord, SocketDataAndIndexRules)
{
    DeviceSetting empty = defaultSerial();
    EXPECT_EQ(empty.port(-1), 0);
    EXPECT_TRUE(empty.socketIP(-1).isNull());
    empty.setPort(502, -1);
    empty.setSocketIP("1.2.3.4", -1);
    EXPECT_TRUE(empty.socketData.isEmpty());

    DeviceSetting record = withTwoEntries();
    EXPECT_EQ(record.port(0), 502);
    EXPECT_EQ(record.port(1), 0);
    EXPECT_EQ(record.socketIP(-1), "10.0.0.1");
    record.setCurrentIPIndex(1);
    EXPECT_EQ(record.socketIP(-1), "10.0.0.2");
    record.setCurrentIPIndex(2);
    record.setCurrentIPIndex(-1);
    EXPECT_EQ(record.currentIPIndex, 1);
    record.setPort(503, -1);
    record.setSocketIP("10.0.0.3", 0);
    EXPECT_EQ(record.port(1), 503);
    EXPECT_EQ(record.socketIP(0), "10.0.0.3");

    // A shorter list leaves the index naming nothing.
    record.setSocketData(listOf({qMakePair(QString("a"), QString("70000"))}));
    EXPECT_EQ(record.currentIPIndex, 1);
    EXPECT_EQ(record.port(-1), 0);
    EXPECT_TRUE(record.socketIP(-1).isNull());
    EXPECT_EQ(record.port(0), 0);
}

TEST(DeviceSettingRecord, ReadsBackWhatWasWritten)
{
    DeviceSetting written = withTwoEntries();
    written.setCurrentIPIndex(1);
    written.linkID = 7;
    written.extraValue = -3;
    QByteArray bytes = streamed(written, QDataStream::LittleEndian);

    DeviceSetting read(DeviceSetting(device_type(0), "", 0, 0, 0, 0, 0, "mine"));
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    in >> read;
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_EQ(streamed(read, QDataStream::LittleEndian), bytes);
    EXPECT_EQ(read.extraText, "mine");
}

TEST(DeviceSettingRecord, ShortStreamsEndTheListEarly)
{
    DeviceSetting written = withTwoEntries();
    QByteArray bytes = streamed(written);
    // Claim three entries but keep only the first.
    const int countAt = bytes.size() - (4 + 16 + 2) - (4 + 16 + 2) - 4;
    bytes.replace(countAt, 4, hex("00000003"));
    bytes.chop(4 + 16 + 2);

    DeviceSetting read = defaultSerial();
    QDataStream in(bytes);
    in >> read;
    ASSERT_EQ(read.socketData.size(), 1);
    EXPECT_EQ(read.socketData[0].first, "10.0.0.1");
    EXPECT_EQ(read.socketData[0].second, 502);

    // A hostile count on a stream that ends at once reads a single entry.
    QByteArray hostile = streamed(defaultSerial());
    hostile.replace(hostile.size() - 4, 4, hex("FFFFFFFF"));
    DeviceSetting victim = defaultSerial();
    QDataStream in2(hostile);
    in2 >> victim;
    EXPECT_EQ(in2.status(), QDataStream::ReadPastEnd);
    EXPECT_LE(victim.socketData.size(), 1);

    // A string length far beyond the stream: an empty string, the stream
    // used up and past its end, in either byte order.
    for (const QDataStream::ByteOrder order : {QDataStream::BigEndian, QDataStream::LittleEndian}) {
        QByteArray longName = hex("00000010 7FFFFFFE 0041");
        if (order == QDataStream::LittleEndian)
            longName = hex("10000000 FEFFFF7F 4100");
        DeviceSetting named = defaultSerial();
        QDataStream in3(longName);
        in3.setByteOrder(order);
        in3 >> named;
        EXPECT_EQ(in3.status(), QDataStream::ReadPastEnd);
        EXPECT_TRUE(named.string.isEmpty());
        EXPECT_TRUE(in3.atEnd());
    }
}

TEST(DeviceSettingRecord, DumpText)
{
    DebugCapture capture;
    defaultSerial().dump();
    DeviceSetting record = withTwoEntries();
    record.type = device_type(-1);
    record.dump();
    EXPECT_EQ(DebugCapture::messages(),
              strings({"type: 16 string: \"COM2\" baudrate: 9600 databits: 8 stopbits: 0 "
                       "parity: 2 linkID: -1 current ip: \"\" current port: 0 ",
                       "type: 4294967295 string: \"COM2\" baudrate: 9600 databits: 8 "
                       "stopbits: 0 parity: 2 linkID: -1 current ip: \"10.0.0.1\" "
                       "current port: 502 "}));
}

} // namespace
