#ifndef HOSTTEST_H
#define HOSTTEST_H

// Shared pieces of the host tests: the plug-in loaded through CreateDriver,
// a raw pseudo-terminal, and a simulated line served on one with a real
// termios port on the other end.

#include <pty.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "driverinterface.h"
#include "plugindriver.h"
#include "serialport.h"
#include "simline.h"
#include "simserver.h"

// A pseudo-terminal with its slave side raw, as a serial line is: the test
// plays the peer on master, a port opens ptsname(master).
inline ::testing::AssertionResult openRawPty(int *master, int *slave)
{
    if (openpty(master, slave, nullptr, nullptr, nullptr) != 0)
        return ::testing::AssertionFailure() << "openpty: " << std::strerror(errno);
    termios tio;
    tcgetattr(*slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(*slave, TCSANOW, &tio);
    return ::testing::AssertionSuccess();
}

// Drives on a pseudo-terminal, the port opened on its path. Generous
// time-outs: the suite also runs on loaded machines and under emulation.
struct SimulatedLine
{
    explicit SimulatedLine(const QList<int> &stations, const QString &settingsText = QStringLiteral("RS485,115200,NONE,8,2"),
                           const SimAreaSizes &sizes = SimAreaSizes())
        : line(stations, sizes), server(&line)
    {
        LineSettings settings;
        QString error;
        EXPECT_TRUE(LineSettings::parse(settingsText, &settings, &error)) << qPrintable(error);
        EXPECT_TRUE(server.openPty(settings)) << qPrintable(server.errorString());
        EXPECT_TRUE(server.start());
        EXPECT_TRUE(port.open(server.path(), settings)) << qPrintable(port.errorString());
        port.setAnswerTimeout(1000);
        port.setInterCharacterFloor(200);
        port.setRetryCount(2);
        port.setStationId(stations.value(0, 1));
        port.setFrameDelay(0);
    }
    ~SimulatedLine()
    {
        port.close();
        server.stop();
    }

    SimLine line;
    SimServer server;
    SerialPort port;
};

#endif // HOSTTEST_H
