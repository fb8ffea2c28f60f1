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
