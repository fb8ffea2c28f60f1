#ifndef HOSTTEST_H
#define HOSTTEST_H

// Shared pieces of the host tests: the plug-in loaded through CreateDriver,
// and a simulated line served on a pseudo-terminal with a real termios port
// on the other end.

#include <dlfcn.h>

#include <memory>

#include <gtest/gtest.h>

#include "driverinterface.h"
#include "serialport.h"
#include "simline.h"
#include "simserver.h"

// A driver of our own from the plug-in's plain entry point.
class PluginDriver
{
public:
    PluginDriver()
    {
        m_handle = dlopen(TECO_SERVO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            return;
        using Create = DriverInterface *(*)();
        if (auto create = reinterpret_cast<Create>(dlsym(m_handle, "CreateDriver")))
            m_driver.reset(create());
    }
    ~PluginDriver()
    {
        m_driver.reset();
        if (m_handle)
            dlclose(m_handle);
    }
    DriverInterface *get() const { return m_driver.get(); }
    DriverInterface *operator->() const { return m_driver.get(); }

private:
    void *m_handle = nullptr;
    std::unique_ptr<DriverInterface> m_driver;
};

// Drives on a pseudo-terminal, the port opened on its path. Generous
// time-outs: the suite also runs on loaded machines and under emulation.
struct SimulatedLine
{
    explicit SimulatedLine(const QList<int> &stations,
                           const QString &settingsText = QStringLiteral("RS485,115200,NONE,8,2"))
        : line(stations), server(&line)
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
