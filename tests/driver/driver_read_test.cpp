// Reads through the read dispatch against a scripted port.
#include <gtest/gtest.h>

#include "communicatorcommand.h"
#include "scripted_port.h"
#include "teco_servo.h"

namespace {

// A normal read answer from station 1: function, byte count, data, CRC.
QByteArray readAnswer(int function, const QByteArray &data)
{
    return withCrc(QByteArray(1, 1) + char(function) + char(data.size()) + data);
}

struct ReadTest : ::testing::Test
{
    DriverTecoServo driver;
    ScriptedPort port;
    QByteArray read(int type, int count, const char *address)
    {
        return driver.read(&port, CommunicatorCommand(type, count, QString::fromLatin1(address)));
    }
};

TEST_F(ReadTest, TenWordsFromHR1)
{
    port.answer(readAnswer(3, hex("00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 12 34")));
    const QByteArray data = read(2, 10, "HR1");
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(hexOf(data), "01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 00 34 12");
    EXPECT_EQ(port.calls, QStringList({"frameDelay", "stationId", "setOption 12 int 0",
                                       "send 01 03 00 00 00 0A C5 CD", "receive 5",
                                       "receive 20"}));
}

// Every protocol error, provoked by the answer to a one-word read of HR100;
// the description follows once, after the last attempt.
TEST_F(ReadTest, ProtocolErrorsEndWithOneDescription)
{
    const QByteArray good = readAnswer(3, hex("12 34"));
    QByteArray flipped = good;
    flipped[3] = char(0x13);
    struct Case { int station; QList<QPair<QByteArray, int>> replies; QString text; };
    const Case cases[] = {
        {1, {}, "PLC no response"},
        {1, {{QByteArray(), -1}}, "PLC no response"},
        {1, {{hex("01 03 02"), 3}}, "received bytes < 5"},
        {1, {{good, 7}}, "received bytes < 5"},
        {1, {{hex("02 03 02 12 34"), 5}}, "invalid slave id:2"},
        {1, {{hex("01 04 02 12 34"), 5}}, "invalid response"},
        {1, {{hex("01 83 02 C0 F1"), 5}}, "exception code:0x02"},
        {1, {{hex("01 83 02 C0 F2"), 5}}, "CRC error"},
        {1, {{good.left(5), 5}, {good.mid(5), 1}}, "packet loss"},
        {1, {{good.left(5), 5}, {good.mid(5), 3}}, "packet loss"},
        {1, {{good.left(5), 5}, {QByteArray(), -2}}, "packet loss"},
        {1, {{flipped.left(5), 5}, {flipped.mid(5), 2}}, "CRC error"},
        {256, {}, "invalid slave id:256"},
        {-1, {}, "invalid slave id:-1"},
    };
    for (const Case &c : cases) {
        DriverTecoServo driver;
        ScriptedPort port;
        port.station = c.station;
        port.retries = 1;
        for (int attempt = 0; attempt < 2; ++attempt)
            for (const auto &r : c.replies)
                port.reply(r.first, r.second);
        EXPECT_TRUE(driver.read(&port, CommunicatorCommand(2, 1, "HR100")).isEmpty());
        EXPECT_TRUE(driver.hasError());
        EXPECT_EQ(driver.getLastError(),
                  c.text + QString(" (read 1 word(s) from %1-HR100)").arg(c.station & 0xFF));
        EXPECT_EQ(port.count("frameDelay"), 2) << c.text;
        EXPECT_EQ(port.sent.size(), c.station == 1 ? 2 : 0) << c.text;
    }
}

TEST_F(ReadTest, NoAnswerIsRetriedAfterTheDelayEachTime)
{
    port.retries = 3;
    EXPECT_TRUE(read(2, 2, "HR100").isEmpty());
    const QStringList attempt = {"frameDelay", "stationId", "setOption 12 int 0",
                                 "send " + hexOf(withCrc(hex("01 03 00 63 00 02"))),
                                 "receive 5"};
    EXPECT_EQ(port.calls, attempt + QStringList("retryCount") + attempt
                              + QStringList("retryCount") + attempt + QStringList("retryCount")
                              + attempt + QStringList({"retryCount", "stationId"}));
    EXPECT_EQ(driver.getLastError(), "PLC no response (read 2 word(s) from 1-HR100)");
}

TEST_F(ReadTest, SecondAttemptSucceedsAndKeepsTheFirstText)
{
    port.retries = 1;
    port.silence();
    port.answer(readAnswer(3, hex("12 34")));
    EXPECT_EQ(hexOf(read(2, 1, "HR100")), "34 12");
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(driver.getLastError(), "PLC no response");
}

TEST_F(ReadTest, UnsupportedTypesAndBlocksGetNoDescription)
{
    port.retries = 3;
    EXPECT_TRUE(read(4, 1, "HR1").isEmpty());
    EXPECT_EQ(driver.getLastError(), "unsupported data type: HR1");
    EXPECT_EQ(port.calls, QStringList("frameDelay"));
    read(-1, 1, "HR1");
    EXPECT_EQ(driver.getLastError(), "unsupported data type: HR1");
    read(5, 2, "HR1");
    EXPECT_EQ(driver.getLastError(), "PLC no response");
    read(6, 2, "DO1");
    EXPECT_EQ(driver.getLastError(), "PLC no response");
}

// The parser's quirks, seen in the request each address produces.
TEST_F(ReadTest, AddressesSelectFunctionAndRegister)
{
    const struct { int type; int count; const char *address; const char *request; } cases[] = {
        {2, 1, "HR100", "01 03 00 63 00 01"},
        {2, 1, "hr100", "01 03 00 63 00 01"},
        {2, 1, "Fn6Hr12", "01 03 00 0B 00 01"},
        {2, 1, "IR100", "01 04 00 63 00 01"},
        {2, 1, "F100", "01 04 FF FF 00 01"},  // area F10, no number left
        {2, 1, "HR0", "01 03 FF FF 00 01"},
        {2, 1, "HR", "01 03 FF FF 00 01"},
        {2, 1, "", "01 04 FF FF 00 01"},
        {2, 1, "HR65537", "01 03 00 00 00 01"},
        {2, 1, "HR59999", "01 03 EA 5E 00 01"},
        {2, 1, "HR60011", "01 03 EA 6A 00 01"},
        {3, 1, "HR100SW", "01 03 00 63 00 02"},
        {1, 3, "HR100", "01 03 00 63 00 02"},
        {0, 1, "HR100.300", "01 03 00 63 00 03"}, // bit 44
        {0, 1, "HR1.2.3", "01 03 00 00 00 01"},
        {0, 1, "HR100.", "01 03 00 63 00 01"},
        {0, 1, "HR60000.1", "01 03 EA 5F 00 01"},
        {0, 1, "IR5", "01 04 00 04 00 01"},
        {6, 1, "DI5", "01 02 00 04 00 01"},
        {0, 1, "di5", "01 02 00 04 00 01"},
        {0, 1, "DO1.7", "01 01 00 00 00 01"},
        {0, 9, "fn5do1", "01 01 00 00 00 09"},
    };
    for (const auto &c : cases) {
        ScriptedPort port;
        driver.read(&port, CommunicatorCommand(c.type, c.count, c.address));
        ASSERT_EQ(port.sent.size(), 1) << c.address;
        EXPECT_EQ(hexOf(port.sent[0].left(6)), c.request) << c.address;
    }
}

TEST_F(ReadTest, RangeRefusalsSendNothing)
{
    const struct { int type; int count; const char *address; const char *text; } cases[] = {
        {2, 125, "HR65412", nullptr},
        {2, 126, "HR1", "can't read any word from HR1"},
        {2, 2, "HR65536", "can't read any word from HR65536"},
        {2, -1, "hr7", "can't read any word from hr7"},
        {3, 62, "HR1", nullptr},
        {3, 63, "HR1", "can't read any double word from HR1"},
        {3, -1, "HR1", "can't read any double word from HR1"},
        {1, 250, "IR1", nullptr},
        {1, 251, "IR1", "can't read any byte from IR1"},
        {1, -1, "IR1", "can't read any byte from IR1"},
        {0, 2008, "DO1", nullptr},
        {0, 2009, "DO1", "can't read 2009 bits from DO1"},
        {0, 8, "DI65529", nullptr},
        {0, 9, "DI65529", "can't read 9 bits from DI65529"},
        {0, 1985, "HR1.15", nullptr},
        {0, 1986, "HR1.15", "can't read any word from HR1"},
    };
    for (const auto &c : cases) {
        DriverTecoServo driver;
        ScriptedPort port;
        driver.read(&port, CommunicatorCommand(c.type, c.count, c.address));
        if (!c.text) {
            EXPECT_EQ(port.sent.size(), 1) << c.address << " " << c.count;
            continue;
        }
        EXPECT_TRUE(port.sent.isEmpty()) << c.text;
        EXPECT_EQ(port.count("stationId"), 1) << c.text; // only for the description
        EXPECT_TRUE(driver.getLastError().startsWith(QString(c.text) + " (read ")) << c.text;
    }
}

TEST_F(ReadTest, ConversionsToHostOrder)
{
    const QByteArray regs = hex("12 34 56 78");
    port.answer(readAnswer(3, regs));
    EXPECT_EQ(hexOf(read(3, 1, "HR1")), "34 12 78 56");
    port.answer(readAnswer(3, regs));
    EXPECT_EQ(hexOf(read(3, 1, "HR1sw")), "78 56 34 12");
    port.answer(readAnswer(3, regs));
    EXPECT_EQ(hexOf(read(1, 3, "HR1")), "34 12 78");
    port.answer(readAnswer(3, regs));
    EXPECT_EQ(hexOf(read(0, 20, "HR1.3")), "46 02 0F");
    // Ten coils; the drive's stray bits above coil 9 are cleared. The byte
    // count field is not looked at.
    port.answer(withCrc(hex("01 01 07 FF FF")));
    EXPECT_EQ(hexOf(read(0, 10, "DO1")), "FF 03");
    EXPECT_FALSE(driver.hasError());
}

} // namespace
