// The plug-in loaded through its entry points, the termios port on one end
// of a pseudo-terminal and the simulated drives on the other.
#include <QPluginLoader>

#include <tuple>

#include "bitwise_crc.h"
#include "communicatorcommand.h"
#include "drv_dev_setting.h"
#include "faultplan.h"
#include "hosttest.h"

namespace {

TEST(EndToEnd, QtPluginLoaderGivesADriverThatTalksToTheLine)
{
    SimulatedLine sim({1}, QStringLiteral("RS485,9600,NONE,8,2")); // the driver's baud rate
    QPluginLoader loader(QStringLiteral(TECO_SERVO_PLUGIN_PATH));
    DriverInterface *driver = qobject_cast<DriverInterface *>(loader.instance());
    ASSERT_NE(driver, nullptr) << qPrintable(loader.errorString());
    // The port set up from the driver's own default records: parity code 2
    // and stop bits code 0 read as 8E1; time-out, retries and station as given.
    std::unique_ptr<DeviceSetting> device(driver->getDefaultSerialDeviceSetting());
    std::unique_ptr<DriverSetting> setting(driver->getDefaultDriverSetting());
    ASSERT_TRUE(sim.port.open(sim.server.path(), *device)) << qPrintable(sim.port.errorString());
    sim.port.setDriverSetting(*setting);
    EXPECT_EQ(std::make_tuple(sim.port.lineSettings().toString(), sim.port.answerTimeout(), sim.port.retryCount(),
                              sim.port.stationId()),
              std::make_tuple(QStringLiteral("RS485,9600,EVEN,8,1"), 500, 3, 1));
    EXPECT_TRUE(driver->initialize(&sim.port));
    const QByteArray data = driver->read(&sim.port,
                                         CommunicatorCommand(CommunicatorCommand::Word, 2, QStringLiteral("IR11")));
    EXPECT_FALSE(driver->hasError()) << qPrintable(driver->getLastError());
    EXPECT_EQ(data, hex("F203F303")) << "input registers 10 and 11 of station 1: 1010, 1011";
}

// A second load replaces the first: its driver and library handle are
// released (memcheck and the sanitizers see a leak otherwise).
TEST(EndToEnd, LoadingAgainReleasesTheFirstDriver)
{
    SimulatedLine sim({1});
    DriverLoader loader;
    const QString path = QStringLiteral(TECO_SERVO_PLUGIN_PATH);
    ASSERT_NE(loader.load(path, DriverLoader::CreateDriverEntry), nullptr);
    DriverInterface *driver = loader.load(path, DriverLoader::CreateDriverEntry);
    ASSERT_NE(driver, nullptr) << qPrintable(loader.errorString());
    EXPECT_TRUE(driver->initialize(&sim.port));
    driver->read(&sim.port, CommunicatorCommand(2, 1, QStringLiteral("IR1")));
    EXPECT_FALSE(driver->hasError()) << qPrintable(driver->getLastError());
}

struct RoundTrip
{
    const char *address;
    int type, count;
    // The command's data, and what a read of the same command returns, hex.
    const char *written, *readBack;
    SimArea area;
    int first; // zero-based address on the drive
    QList<quint16> onDrive;
};

// Function 16's dword and byte layouts are pinned both ways byte for byte
// (WriteTest.RequestsForEachAreaAndType, ReadTest.ConversionsToHostOrder);
// words by functions 16 and 6 and coils by 15 round-trip in MultiLine.
TEST(EndToEnd, EveryWritableAreaAndDataTypeRoundTrips)
{
    SimulatedLine sim({1});
    PluginDriver driver;
    ASSERT_TRUE(driver.get() && driver->initialize(&sim.port));
    const SimArea hr = SimArea::HoldingRegisters, coils = SimArea::Coils;
    const RoundTrip cases[] = {
        {"FN6HR220", CommunicatorCommand::DoubleWord, 1, "78563412", "78563412", hr, 219, {0x5678, 0x1234}},
        {"FN6HR310", CommunicatorCommand::Block, 2, "AABB", "AABB", hr, 309, {0xBBAA}},
        {"HR400.3", CommunicatorCommand::Bit, 1, "01", "01", hr, 399, {0x0008}},
        {"FN6HR410.15", CommunicatorCommand::Bit2, 2, "0101", "03", hr, 409, {0x8000, 0x0001}},
        {"FN5DO30", CommunicatorCommand::Bit2, 2, "0001", "02", coils, 29, {0, 1}},
    };
    for (const RoundTrip &c : cases) {
        const CommunicatorCommand cmd(c.type, c.count, QLatin1String(c.address));
        EXPECT_TRUE(driver->write(&sim.port, cmd, hex(c.written))) << c.address;
        EXPECT_FALSE(driver->hasError()) << c.address << ": " << qPrintable(driver->getLastError());
        for (int i = 0; i < c.onDrive.size(); ++i)
            EXPECT_EQ(sim.line.value(1, c.area, c.first + i), c.onDrive[i]) << c.address << " + " << i;
        EXPECT_EQ(driver->read(&sim.port, cmd).toHex(), QByteArray(c.readBack).toLower()) << c.address;
        EXPECT_FALSE(driver->hasError()) << c.address << ": " << qPrintable(driver->getLastError());
    }
}

// The special store's bytes: WriteTest.SpecialStore…, BroadcastResumes…; its
// broadcast on a real line, read back from a listed drive:
// Servoctl.AcceptsTheEdgesOfWhatTheDriverServes.

// Answers later than twice the time-out, through the plug-in. Reads of
// other counts and writes to other registers the port tells apart from an
// earlier request's answer: never wrong. Two-word reads of four places get
// answers alike: right, or flagged uncertain by the port. A write the drive
// refuses is never reported good on another write's late acknowledgement.
TEST(EndToEnd, LateAnswersNeverPassForFreshOnes)
{
    SimAreaSizes sizes;
    sizes.holdingRegisters = 100; // HR101 on: exception 2
    SimulatedLine sim({1}, QStringLiteral("RS485,115200,NONE,8,2"), sizes);
    FaultPlan plan;
    QString error;
    ASSERT_TRUE(FaultPlan::parse(QStringLiteral("delay=0.3:250"), &plan, &error));
    sim.line.setFaults(plan, 7);
    sim.port.setAnswerTimeout(100); // late-answer horizon 200 ms at first
    sim.port.setRetryCount(3);
    PluginDriver driver;
    ASSERT_TRUE(driver.get() && driver->initialize(&sim.port));
    const SimArea hr = SimArea::HoldingRegisters;
    for (int reg = 0; reg < 8; ++reg)
        sim.line.setValue(1, hr, reg, quint16(0x1000 + reg));

    int good = 0, wrong = 0, uncertain = 0;
    for (int i = 0; i < 32; ++i) {
        const qint64 uncertainBefore = sim.port.counters().uncertainAnswers;
        QString address;
        int count = 1;
        bool right = false;
        if (i % 4 < 2) { // four places, answers alike
            const int first = 2 * (i / 2 % 4);
            address = QStringLiteral("HR%1").arg(first + 1);
            count = i % 4 == 0 ? 2 : 1 + i / 4 % 3;
            QByteArray expected; // 0x1000 + register, low byte first
            for (int k = 0; k < count; ++k)
                expected.append(char(first + k)).append('\x10');
            right = driver->read(&sim.port, CommunicatorCommand(CommunicatorCommand::Word, count, address)) == expected;
        } else if (i % 4 == 2) { // told apart by the echoed address
            address = QStringLiteral("HR%1").arg(21 + i % 5);
            driver->write(&sim.port, CommunicatorCommand(CommunicatorCommand::Word, 1, address),
                          QByteArray(1, char(i)) + '\0');
            right = sim.line.value(1, hr, 20 + i % 5) == i;
        } else { // refused by the drive
            address = QStringLiteral("HR5000");
            driver->write(&sim.port, CommunicatorCommand(CommunicatorCommand::Word, 1, address), QByteArray(2, '\7'));
        }
        if (driver->hasError())
            continue;
        ++good;
        if (sim.port.counters().uncertainAnswers > uncertainBefore)
            ++uncertain;
        else if (!right)
            ADD_FAILURE() << "wrong and reported good: " << i << " " << qPrintable(address) << " count " << count;
        wrong += right ? 0 : 1;
    }
    EXPECT_GT(sim.port.counters().lateAnswers, 5);
    EXPECT_GT(good, 12);
    std::printf("%d good of 32, %d of them wrong, %d flagged uncertain; %lld late answers dropped\n", good, wrong,
                uncertain, sim.port.counters().lateAnswers);
}

// The faults of real wiring, rehearsed on the simulated line: what the
// master sees through the plug-in, and what the line counted. A twin drive
// and noise, where every answer taken must be right: the soak, whose short
// run (soak_short) injects both among its faults and fails on a wrong value.
TEST(EndToEnd, RehearsedWiringFaultsLookAsOnARealLine)
{
    SimulatedLine sim({1}, QStringLiteral("RS485,19200,NONE,8,2"));
    sim.port.setAnswerTimeout(50);
    sim.port.setRetryCount(0);
    PluginDriver driver;
    ASSERT_TRUE(driver.get() && driver->initialize(&sim.port));
    const SimArea hr = SimArea::HoldingRegisters;
    auto setFaults = [&](const char *text) {
        FaultPlan plan;
        QString error;
        EXPECT_TRUE(FaultPlan::parse(QLatin1String(text), &plan, &error)) << qPrintable(error);
        sim.line.setFaults(plan, 5);
    };
    auto writeWord = [&](const char *address, quint16 value) {
        driver->write(&sim.port, CommunicatorCommand(CommunicatorCommand::Word, 1, QLatin1String(address)),
                      QByteArray(1, char(value)) + char(value >> 8));
        return driver->getLastError();
    };

    // Lost after the drive executed the write: failed, and written all the same.
    setFaults("drop=1");
    EXPECT_EQ(writeWord("HR10", 7), QStringLiteral("PLC no response (write 1 word to 1-HR10)"));
    EXPECT_EQ(sim.line.value(1, hr, 9), 7);
    // Not heard: failed, and nothing written.
    setFaults("unheard=1");
    EXPECT_EQ(writeWord("HR11", 7), QStringLiteral("PLC no response (write 1 word to 1-HR11)"));
    EXPECT_EQ(sim.line.value(1, hr, 10), 0);

    // A master at another baud rate is not understood; at the drives' rate it is.
    setFaults("");
    for (const int baud : {9600, 19200}) {
        sim.port.close();
        ASSERT_TRUE(sim.port.open(sim.server.path(), QStringLiteral("RS485,%1,NONE,8,2").arg(baud)))
            << qPrintable(sim.port.errorString());
        const qint64 otherBaud = sim.line.stats().otherBaud;
        driver->read(&sim.port, CommunicatorCommand(CommunicatorCommand::Word, 1, QStringLiteral("HR1")));
        EXPECT_EQ(driver->hasError(), baud == 9600) << baud;
        EXPECT_EQ(sim.line.stats().otherBaud - otherBaud, baud == 9600 ? 1 : 0) << baud;
    }
}

} // namespace
