// Reads through the read dispatch against a scripted port.
#include <utility>
#include <vector>

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
    const QByteArray data = read(CommunicatorCommand::Word, 10, "HR1");
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(hexOf(data), "01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 00 34 12");
    EXPECT_EQ(port.calls, strings({"frameDelay", "stationId", "setOption 12 int 0", "send 01 03 00 00 00 0A C5 CD",
                                   "receive 5", "receive 20"}));
}

// Every protocol error, provoked by the answer to a one-word read of HR100;
// the description follows once, after the last attempt.
TEST_F(ReadTest, ProtocolErrorsEndWithOneDescription)
{
    const QByteArray good = readAnswer(3, hex("12 34"));
    QByteArray flipped = good;
    flipped[3] = char(0x13);
    struct Case
    {
        int station;
        std::vector<std::pair<QByteArray, int>> replies;
        QString text;
    };
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
        EXPECT_TRUE(driver.read(&port, CommunicatorCommand(CommunicatorCommand::Word, 1, "HR100")).isEmpty());
        EXPECT_TRUE(driver.hasError());
        EXPECT_EQ(driver.getLastError(), c.text + QString(" (read 1 word(s) from %1-HR100)").arg(c.station & 0xFF));
        EXPECT_EQ(port.count("frameDelay"), 2) << c.text;
        EXPECT_EQ(port.sent.size(), c.station == 1 ? 2 : 0) << c.text;
    }
}

TEST_F(ReadTest, NoAnswerIsRetriedAfterTheDelayEachTime)
{
    port.retries = 3;
    EXPECT_TRUE(read(CommunicatorCommand::Word, 2, "HR100").isEmpty());
    const QStringList attempt = strings({"frameDelay", "stationId", "setOption 12 int 0",
                                         "send " + hexOf(withCrc(hex("01 03 00 63 00 02"))), "receive 5"});
    EXPECT_EQ(port.calls, attempt + QStringList("retryCount") + attempt + QStringList("retryCount") + attempt
                              + QStringList("retryCount") + attempt + strings({"retryCount", "stationId"}));
    EXPECT_EQ(driver.getLastError(), "PLC no response (read 2 word(s) from 1-HR100)");
}

TEST_F(ReadTest, SecondAttemptSucceedsAndKeepsTheFirstText)
{
    port.retries = 1;
    port.silence();
    port.answer(readAnswer(3, hex("12 34")));
    EXPECT_EQ(hexOf(read(CommunicatorCommand::Word, 1, "HR100")), "34 12");
    EXPECT_FALSE(driver.hasError());
    EXPECT_EQ(driver.getLastError(), "PLC no response");
}

TEST_F(ReadTest, UnsupportedTypesAndBlocksGetNoDescription)
{
    port.retries = 3;
    EXPECT_TRUE(read(CommunicatorCommand::QuadWord, 1, "HR1").isEmpty());
    EXPECT_EQ(driver.getLastError(), "unsupported data type: HR1");
    EXPECT_EQ(port.calls, QStringList("frameDelay"));
    read(-1, 1, "HR1");
    EXPECT_EQ(driver.getLastError(), "unsupported data type: HR1");
    read(CommunicatorCommand::Block, 2, "HR1");
    EXPECT_EQ(driver.getLastError(), "PLC no response");
    read(CommunicatorCommand::Bit2, 2, "DO1");
    EXPECT_EQ(driver.getLastError(), "PLC no response");
}

// The parser's quirks, seen in the request each address produces.
TEST_F(ReadTest, AddressesSelectFunctionAndRegister)
{
    const struct
    {
        int type;
        int count;
        const char *address;
        const char *request;
    } cases[] = {
        {CommunicatorCommand::Word, 1, "HR100", "01 03 00 63 00 01"},
        {CommunicatorCommand::Word, 1, "hr100", "01 03 00 63 00 01"},
        {CommunicatorCommand::Word, 1, "Fn6Hr12", "01 03 00 0B 00 01"},
        {CommunicatorCommand::Word, 1, "IR100", "01 04 00 63 00 01"},
        {CommunicatorCommand::Word, 1, "F100", "01 04 FF FF 00 01"}, // area F10, no number left
        {CommunicatorCommand::Word, 1, "HR0", "01 03 FF FF 00 01"},
        {CommunicatorCommand::Word, 1, "HR", "01 03 FF FF 00 01"},
        {CommunicatorCommand::Word, 1, "", "01 04 FF FF 00 01"},
        {CommunicatorCommand::Word, 1, "HR65537", "01 03 00 00 00 01"},
        {CommunicatorCommand::Word, 1, "HR59999", "01 03 EA 5E 00 01"},
        {CommunicatorCommand::Word, 1, "HR60011", "01 03 EA 6A 00 01"},
        {CommunicatorCommand::DoubleWord, 1, "HR100SW", "01 03 00 63 00 02"},
        {CommunicatorCommand::Byte, 3, "HR100", "01 03 00 63 00 02"},
        {CommunicatorCommand::Bit, 1, "HR100.300", "01 03 00 63 00 03"}, // bit 44
        {CommunicatorCommand::Bit, 1, "HR1.2.3", "01 03 00 00 00 01"},
        {CommunicatorCommand::Bit, 1, "HR100.", "01 03 00 63 00 01"},
        {CommunicatorCommand::Bit, 1, "HR60000.1", "01 03 EA 5F 00 01"},
        {CommunicatorCommand::Bit, 1, "IR5", "01 04 00 04 00 01"},
        {CommunicatorCommand::Bit2, 1, "DI5", "01 02 00 04 00 01"},
        {CommunicatorCommand::Bit, 1, "di5", "01 02 00 04 00 01"},
        {CommunicatorCommand::Bit, 1, "DO1.7", "01 01 00 00 00 01"},
        {CommunicatorCommand::Bit, 9, "fn5do1", "01 01 00 00 00 09"},
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
    const struct
    {
        int type;
        int count;
        const char *address;
        const char *text;
    } cases[] = {
        {CommunicatorCommand::Word, 125, "HR65412", nullptr},
        {CommunicatorCommand::Word, 126, "HR1", "can't read any word from HR1"},
        {CommunicatorCommand::Word, 2, "HR65536", "can't read any word from HR65536"},
        {CommunicatorCommand::Word, -1, "hr7", "can't read any word from hr7"},
        {CommunicatorCommand::DoubleWord, 62, "HR1", nullptr},
        {CommunicatorCommand::DoubleWord, 63, "HR1", "can't read any double word from HR1"},
        {CommunicatorCommand::DoubleWord, -1, "HR1", "can't read any double word from HR1"},
        {CommunicatorCommand::Byte, 250, "IR1", nullptr},
        {CommunicatorCommand::Byte, 251, "IR1", "can't read any byte from IR1"},
        {CommunicatorCommand::Byte, -1, "IR1", "can't read any byte from IR1"},
        {CommunicatorCommand::Bit, 2008, "DO1", nullptr},
        {CommunicatorCommand::Bit, 2009, "DO1", "can't read 2009 bits from DO1"},
        {CommunicatorCommand::Bit, 8, "DI65529", nullptr},
        {CommunicatorCommand::Bit, 9, "DI65529", "can't read 9 bits from DI65529"},
        {CommunicatorCommand::Bit, 1985, "HR1.15", nullptr},
        {CommunicatorCommand::Bit, 1986, "HR1.15", "can't read any word from HR1"},
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
    EXPECT_EQ(hexOf(read(CommunicatorCommand::DoubleWord, 1, "HR1")), "34 12 78 56");
    port.answer(readAnswer(3, regs));
    EXPECT_EQ(hexOf(read(CommunicatorCommand::DoubleWord, 1, "HR1sw")), "78 56 34 12");
    port.answer(readAnswer(3, regs));
    EXPECT_EQ(hexOf(read(CommunicatorCommand::Byte, 3, "HR1")), "34 12 78");
    port.answer(readAnswer(3, regs));
    EXPECT_EQ(hexOf(read(CommunicatorCommand::Bit, 20, "HR1.3")), "46 02 0F");
    // Ten coils; the drive's stray bits above coil 9 are cleared. The byte
    // count field is not looked at.
    port.answer(withCrc(hex("01 01 07 FF FF")));
    EXPECT_EQ(hexOf(read(CommunicatorCommand::Bit, 10, "DO1")), "FF 03");
    EXPECT_FALSE(driver.hasError());
}

} // namespace
