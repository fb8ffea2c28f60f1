// The servo drive model: the ramp's arithmetic, and a drive that moves as
// the driver sees it through the port.
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "communicatorcommand.h"
#include "drivemodel.h"
#include "hosttest.h"
#include "termiosline.h"

namespace {

// However often a drive is asked, it is at the same speed and position:
// fractions of a count are kept, and the counter wraps as 32 bits do.
TEST(ServoModel, RampAndPositionDoNotDependOnHowOftenTheDriveIsAsked)
{
    const struct
    {
        int timeConstantMs;
        int setPointRpm;
        qint64 totalNs;
        int steps;
        double speedRpm;
        qint32 position;
    } cases[] = {
        {200, 1500, 1000000000, 1, 1489.8930795, 200336},
        {200, 1500, 1000000000, 1000, 1489.8930795, 200336},
        {200, -1500, 1000000000, 1000, -1489.8930795, -200337},
        {0, 3, 10001000000, 10000, 3, 5000},                 // half a count a step
        {200, 2999, 5000250000000, 5000, 2999, -1795775638}, // past 2^31 counts
    };
    for (const auto &c : cases) {
        ServoModel model(1, 0);
        model.write(SimArea::HoldingRegisters, 1, quint16(c.timeConstantMs));
        model.write(SimArea::HoldingRegisters, 0, quint16(qint16(c.setPointRpm)));
        model.write(SimArea::Coils, 0, 1);
        for (int i = 1; i <= c.steps; ++i)
            model.advance(c.totalNs * i / c.steps);
        EXPECT_NEAR(model.speedRpm(), c.speedRpm, 1e-6) << c.setPointRpm << " rpm, " << c.steps << " steps";
        quint16 low = 0, high = 0;
        EXPECT_TRUE(model.read(SimArea::InputRegisters, 1, &low) && model.read(SimArea::InputRegisters, 2, &high));
        EXPECT_EQ(qint32(quint32(high) << 16 | low), c.position) << c.setPointRpm << " rpm, " << c.steps << " steps";
    }
}

TEST(ServoModel, NoiseRepeatsFromTheSeed)
{
    auto speeds = [](quint64 seed) {
        ServoModel model(seed, 0);
        model.write(SimArea::Coils, 0, 1);
        model.write(SimArea::HoldingRegisters, 0, 1000);
        std::vector<quint16> shown;
        for (int i = 1; i <= 50; ++i) {
            model.advance(qint64(10 + i) * 1000000000);
            model.read(SimArea::InputRegisters, 0, &shown.emplace_back());
        }
        return shown;
    };
    EXPECT_EQ(speeds(7), speeds(7));
    EXPECT_NE(speeds(7), speeds(8));
}

// The plug-in on the real port, the servo drives behind a pseudo-terminal.
class ServoOnTheLine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(driver.get(), nullptr) << qPrintable(driver.errorString());
        sim.line.setModel(DriveModel::Servo, 5);
    }

    // The driver hands data over little-endian: words signed, as servoctl's "signed".
    qint32 read(const char *address, int type = CommunicatorCommand::Word)
    {
        const QByteArray data = driver->read(&sim.port, CommunicatorCommand(type, 1, QLatin1String(address)));
        EXPECT_FALSE(driver->hasError()) << address << ": " << qPrintable(driver->getLastError());
        qint32 value = 0;
        std::memcpy(&value, data.constData(), size_t(qMin(data.size(), 4)));
        return data.size() == 2 ? qint16(value) : value;
    }
    void write(const char *address, qint16 value)
    {
        const bool coil = address[0] == 'D';
        const QByteArray data(reinterpret_cast<const char *>(&value), coil ? 1 : 2);
        const CommunicatorCommand cmd(coil ? CommunicatorCommand::Bit : CommunicatorCommand::Word, 1,
                                      QLatin1String(address));
        EXPECT_TRUE(driver->write(&sim.port, cmd, data)) << address << ": " << qPrintable(driver->getLastError());
    }
    // Generous: the speed only comes closer, however loaded the machine.
    bool speedSettlesAt(int rpm, int tolerance)
    {
        const qint64 deadline = monotonicNs() + 20000000000LL;
        while (std::abs(read("IR1") - rpm) > tolerance) {
            if (monotonicNs() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    SimulatedLine sim{{1}};
    PluginDriver driver;
};

const double kTauSeconds = ServoModel::kDefaultTimeConstantMs / 1000.0;
const double kCountsPerRpmSecond = ServoModel::kCountsPerRevolution / 60.0;

TEST_F(ServoOnTheLine, SpeedRampsToTheSetPointAndPositionGrows)
{
    EXPECT_EQ(read("IR4"), ServoModel::Ready);
    EXPECT_EQ(read("HR2"), ServoModel::kDefaultTimeConstantMs);
    write("DO1", 1);
    const qint64 written = monotonicNs();
    write("HR1", 1500);
    const int early = read("IR1");
    // A ramp, not a step: no further than the time since the write allows.
    const double atMost = 1500 * (1 - std::exp(-(monotonicNs() - written) * 1e-9 / kTauSeconds));
    EXPECT_LE(early, atMost + ServoModel::kNoiseRpm);

    // After five time constants, within 2 %.
    std::this_thread::sleep_for(std::chrono::milliseconds(int(5000 * kTauSeconds)));
    EXPECT_NEAR(read("IR1"), 1500, 30);
    EXPECT_EQ(read("IR4"), ServoModel::Ready | ServoModel::Running | ServoModel::AtSpeed);

    // At 1500 rpm, 250,000 counts a second; the dword read as the driver
    // reads it, low word first.
    const qint64 before = monotonicNs();
    const qint32 first = read("IR2", CommunicatorCommand::DoubleWord);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const qint32 second = read("IR2", CommunicatorCommand::DoubleWord);
    const double elapsed = (monotonicNs() - before) * 1e-9;
    EXPECT_GE(second - first, 0.2 * 1470 * kCountsPerRpmSecond) << first << " then " << second;
    EXPECT_LE(second - first, elapsed * 1502 * kCountsPerRpmSecond) << first << " then " << second;
}

TEST_F(ServoOnTheLine, ASetPointBeyondTheRatedSpeedTripsUntilReset)
{
    write("DO1", 1);
    write("HR1", 1000);
    ASSERT_TRUE(speedSettlesAt(1000, 20));
    write("HR1", 4000);
    EXPECT_EQ(read("IR4"), ServoModel::Fault);
    EXPECT_TRUE(speedSettlesAt(0, 0)) << "a tripped drive stops";
    write("DO2", 1);
    EXPECT_EQ(read("IR4"), ServoModel::Fault) << "the set-point still beyond the rated speed";
    write("HR1", -1000);
    EXPECT_EQ(read("IR4"), ServoModel::Fault) << "latched";
    write("DO2", 1);
    EXPECT_EQ(read("IR4") & (ServoModel::Fault | ServoModel::Running), ServoModel::Running);
    EXPECT_EQ(read("DO2", CommunicatorCommand::Bit), 0);
    EXPECT_TRUE(speedSettlesAt(-1000, 20));
}

} // namespace
