// Writes through the write dispatch, and the special word store.
#include <gtest/gtest.h>

#include "communicatorcommand.h"
#include "scripted_port.h"
#include "teco_servo.h"

namespace {

// Every write answer echoes the first six bytes of the request.
QByteArray ack(const QByteArray &request)
{
    return withCrc(request.left(6));
}

struct WriteTest : ::testing::Test
{
    DriverTecoServo driver;
    ScriptedPort port;
    bool write(int type, const char *address, const QByteArray &data, int count = 1)
    {
        return driver.write(&port, CommunicatorCommand(type, count, address), data);
    }
    QStringList sentHex() const
    {
        QStringList frames;
        for (const QByteArray &f : port.sent)
            frames << hexOf(f);
        return frames;
    }
};

TEST_F(WriteTest, RequestsForEachAreaAndType)
{
    const struct
    {
        int type;
        const char *address;
        const char *data;
        std::vector<QString> requests;
    } cases[] = {
        {CommunicatorCommand::Word, "HR101", "34 12", {"01 10 00 64 00 01 02 12 34 A3 03"}},
        {CommunicatorCommand::Word, "FN6HR101", "34 12", {"01 06 00 64 12 34 C5 62"}},
        {CommunicatorCommand::Bit, "DO20", "01 00 01 01 00 00 01 01 01 00", {"01 0F 00 13 00 0A 02 CD 01 72 CB"}},
        {CommunicatorCommand::Bit, "FN5DO173", "02", {"01 05 00 AC FF 00 4C 1B"}},
        {CommunicatorCommand::Bit2, "FN5DO173.4", "00", {"01 05 00 AC 00 00 0D EB"}},
        {CommunicatorCommand::Bit, "DO1", "01 01 01 01 01 01 01 01 01", {hexOf(withCrc(hex("01 0F 00 00 00 09 02 FF 01")))}},
        {CommunicatorCommand::DoubleWord, "HR1", "78 56 34 12", {hexOf(withCrc(hex("01 10 00 00 00 02 04 56 78 12 34")))}},
        {CommunicatorCommand::DoubleWord, "HR1sw", "78 56 34 12", {hexOf(withCrc(hex("01 10 00 00 00 02 04 12 34 56 78")))}},
        {CommunicatorCommand::DoubleWord, "HR60000", "78 56 34 12", {hexOf(withCrc(hex("01 10 EA 5F 00 02 04 56 78 12 34")))}},
        {CommunicatorCommand::Byte, "HR11", "11 22 33", {hexOf(withCrc(hex("01 10 00 0A 00 02 04 22 11 00 33")))}},
        {CommunicatorCommand::Block,
         "fn6hr11",
         "11 22 33",
         {hexOf(withCrc(hex("01 06 00 0A 22 11"))), hexOf(withCrc(hex("01 06 00 0B 00 33")))}},
        {CommunicatorCommand::DoubleWord,
         "FN6HR1SW",
         "78 56 34 12",
         {hexOf(withCrc(hex("01 06 00 00 12 34"))), hexOf(withCrc(hex("01 06 00 01 56 78")))}},
    };
    for (const auto &c : cases) {
        ScriptedPort port;
        for (const QString &r : c.requests)
            port.answer(ack(hex(r.toLatin1())));
        EXPECT_TRUE(driver.write(&port, CommunicatorCommand(c.type, 1, c.address), hex(c.data)))
            << c.address << driver.getLastError();
        std::vector<QString> sent;
        for (const QByteArray &f : port.sent)
            sent.push_back(hexOf(f));
        EXPECT_EQ(sent, c.requests) << c.address;
    }
}

TEST_F(WriteTest, AcknowledgementOnlyNeedsStationFunctionAndCrc)
{
    port.answer(hex("01 10 00 64 00 01 40 16"));
    port.answer(withCrc(hex("01 10 12 34 56 78")));
    EXPECT_TRUE(write(CommunicatorCommand::Word, "HR101", hex("34 12")));
    EXPECT_TRUE(write(CommunicatorCommand::Word, "HR101", hex("34 12")));
    EXPECT_FALSE(driver.hasError());
}

TEST_F(WriteTest, RangeAndStationChecksComeFirstAndSendNothing)
{
    const struct
    {
        int station;
        int type;
        const char *address;
        int size;
        const char *text;
    } cases[] = {
        {1, CommunicatorCommand::Word, "HR1", 246, nullptr},
        {1, CommunicatorCommand::Word, "HR1", 248, "can't write any word to HR1"},
        {1, CommunicatorCommand::Word, "FN6HR1", 248, "can't write any word to HR1"},
        {1, CommunicatorCommand::Word, "HR65536", 2, nullptr},
        {1, CommunicatorCommand::Word, "HR65536", 4, "can't write any word to HR65536"},
        {1, CommunicatorCommand::Byte, "HR1", 245, nullptr},
        {1, CommunicatorCommand::Byte, "HR1", 247, "can't write any byte to HR1"},
        {256, CommunicatorCommand::DoubleWord, "HR1", 248, "can't write any double word to HR1"},
        {1, CommunicatorCommand::Bit, "DO1", 1976, nullptr},
        {1, CommunicatorCommand::Bit, "DO1", 1977, "can't write 1977 bits to DO1"},
        {1, CommunicatorCommand::Bit, "FN5DO65529", 9, "can't write 9 bits to DO65529"},
        {300, CommunicatorCommand::Bit, "DO1", 5000, "invalid slave id:300"},
    };
    for (const auto &c : cases) {
        DriverTecoServo driver;
        ScriptedPort port;
        port.station = c.station;
        driver.write(&port, CommunicatorCommand(c.type, 1, c.address), QByteArray(c.size, 1));
        if (!c.text) {
            EXPECT_EQ(port.sent.size(), 1) << c.address << " " << c.size;
            EXPECT_LE(port.sent.value(0).size(), 256);
            continue;
        }
        EXPECT_TRUE(port.sent.isEmpty()) << c.text;
        EXPECT_TRUE(driver.getLastError().startsWith(QString(c.text) + " (write 1 ")) << c.text;
    }
}

TEST_F(WriteTest, BitInRegisterByFunction6ReadsOnceThenWritesEachRegisterAfterTheDelay)
{
    port.answer(withCrc(hex("01 03 04 12 34 00 00")));
    port.answer(ack(withCrc(hex("01 06 00 64 92 34"))));
    port.answer(ack(withCrc(hex("01 06 00 65 00 01"))));
    EXPECT_TRUE(write(CommunicatorCommand::Bit, "FN6HR101.15", hex("01 05"), 2));
    const QStringList exchange = strings({"stationId", "setOption 12 int 0"});
    EXPECT_EQ(port.calls,
              QStringList("frameDelay") + exchange
                  + strings({"send " + hexOf(withCrc(hex("01 03 00 64 00 02"))), "receive 5", "receive 4", "frameDelay"}) + exchange
                  + strings({"send " + hexOf(withCrc(hex("01 06 00 64 92 34"))), "receive 5", "receive 3", "frameDelay"})
                  + exchange + strings({"send " + hexOf(withCrc(hex("01 06 00 65 00 01"))), "receive 5", "receive 3"}));
}

TEST_F(WriteTest, BitInRegisterByFunction16AndAFailedRead)
{
    port.answer(withCrc(hex("01 03 02 12 3F")));
    port.answer(ack(withCrc(hex("01 10 00 63 00 01"))));
    EXPECT_TRUE(write(CommunicatorCommand::Bit, "HR100.3", hex("00")));
    EXPECT_EQ(hexOf(port.sent.value(1)), hexOf(withCrc(hex("01 10 00 63 00 01 02 12 37"))));
    port.sent.clear();
    port.answer(hex("01 83 02 C0 F1"));
    EXPECT_FALSE(write(CommunicatorCommand::Bit, "HR100.3", hex("01")));
    EXPECT_EQ(port.sent.size(), 1);
    EXPECT_EQ(driver.getLastError(), "exception code:0x02 (write 1 bit to 1-HR100.3)");
}

TEST_F(WriteTest, AreaRefusalsAreRetriedAfterTheDelay)
{
    const struct
    {
        int type;
        const char *address;
        const char *text;
    } cases[] = {
        {CommunicatorCommand::Word, "DI5", "can't write any word to DI5 (write 1 word to 1-DI5)"},
        {CommunicatorCommand::Word, "IR5", "can't write any word to IR5 (write 1 word to 1-IR5)"},
        {CommunicatorCommand::Bit, "di5", "can't write any bit to di5 (write 1 bit to 1-di5)"},
        {CommunicatorCommand::Byte, "DO1", "can't write any byte to DO1 (write 1 byte to 1-DO1)"},
        {CommunicatorCommand::Block, "DO1", "can't write any byte to DO1"},
        {CommunicatorCommand::DoubleWord, "FN5DO1", "can't write any double word to FN5DO1 (write 1 dword to 1-FN5DO1)"},
    };
    for (const auto &c : cases) {
        ScriptedPort port;
        port.retries = 2;
        EXPECT_FALSE(driver.write(&port, CommunicatorCommand(c.type, 1, c.address), hex("01 00")));
        EXPECT_EQ(driver.getLastError(), c.text);
        EXPECT_EQ(port.calls, strings({"frameDelay", "retryCount", "frameDelay", "retryCount", "frameDelay",
                                       "retryCount", "stationId"}));
    }
    EXPECT_FALSE(write(CommunicatorCommand::QuadWord, "HR1", hex("01 00")));
    EXPECT_EQ(driver.getLastError(), "unsupported data type: HR1");
    EXPECT_EQ(port.calls, QStringList("frameDelay"));
}

TEST_F(WriteTest, SpecialStoreStartsEmptyAndReadsBackFromEntry9)
{
    EXPECT_EQ(driver.read(&port, CommunicatorCommand(CommunicatorCommand::Word, 11, "HR60000")), QByteArray(22, 0));
    EXPECT_EQ(port.calls, QStringList("frameDelay"));
    // Count 1, station 5, read-back station 20 (held at 8).
    EXPECT_TRUE(write(CommunicatorCommand::Word, "HR60000",
                      hex("01 00 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 14 00"), 10));
    EXPECT_TRUE(port.sent.isEmpty());
    port.answer(withCrc(hex("08 03 02 AB CD")));
    EXPECT_EQ(hexOf(driver.read(&port, CommunicatorCommand(CommunicatorCommand::Word, 3, "FN6HR60009"))),
              "08 00 CD AB 00 00");
    EXPECT_EQ(sentHex(), QStringList(hexOf(withCrc(hex("08 03 05 13 00 01")))));
}

TEST_F(WriteTest, BroadcastResumesWithTheStationThatFailed)
{
    ASSERT_TRUE(write(CommunicatorCommand::Word, "HR60000", hex("02 00 05 00 07 00"), 3));
    const QByteArray to5 = withCrc(hex("05 10 05 13 00 01 02 12 34"));
    const QByteArray to7 = withCrc(hex("07 10 05 13 00 01 02 12 34"));
    port.answer(ack(to5));
    port.answer(withCrc(hex("07 90 02")));
    EXPECT_FALSE(write(CommunicatorCommand::Word, "HR60010", hex("34 12")));
    EXPECT_EQ(driver.getLastError(), "exception code:0x02 (write 1 word to 1-HR60010)");
    // The delay between the two stations.
    EXPECT_EQ(port.calls.mid(5, 3), strings({"receive 3", "frameDelay", "setOption 12 int 0"}));
    ASSERT_TRUE(write(CommunicatorCommand::Word, "HR60000", hex("00 00"))); // count 0: read the store alone
    EXPECT_EQ(hexOf(driver.read(&port, CommunicatorCommand(CommunicatorCommand::Word, 1, "HR60010"))), "00 00");

    ASSERT_TRUE(write(CommunicatorCommand::Word, "HR60000", hex("02 00")));
    port.sent.clear();
    port.retries = 1;
    port.answer(ack(to5));
    port.answer(withCrc(hex("07 90 02")));
    port.answer(ack(to7));
    EXPECT_TRUE(write(CommunicatorCommand::Word, "HR60010", hex("34 12")));
    EXPECT_EQ(sentHex(), strings({hexOf(to5), hexOf(to7), hexOf(to7)}));
    ASSERT_TRUE(write(CommunicatorCommand::Word, "HR60000", hex("00 00")));
    EXPECT_EQ(hexOf(driver.read(&port, CommunicatorCommand(CommunicatorCommand::Word, 1, "HR60010"))), "34 12");
}

TEST_F(WriteTest, SpecialBitsBoundTheStationCount)
{
    ASSERT_TRUE(write(CommunicatorCommand::Word, "HR60000", hex("0C 00")));
    EXPECT_TRUE(write(CommunicatorCommand::Bit, "HR60004.0", hex("01")));
    EXPECT_TRUE(write(CommunicatorCommand::Bit, "HR60004.16", hex("01"))); // past bit 15: entry unchanged
    EXPECT_EQ(hexOf(driver.read(&port, CommunicatorCommand(CommunicatorCommand::Word, 5, "HR60000"))),
              "08 00 00 00 00 00 00 00 01 00");
    EXPECT_TRUE(write(CommunicatorCommand::Bit, "HR60000.0", hex("00")));
    EXPECT_EQ(hexOf(driver.read(&port, CommunicatorCommand(CommunicatorCommand::Word, 1, "HR60000"))), "08 00");
    EXPECT_TRUE(port.sent.isEmpty());
}

} // namespace
