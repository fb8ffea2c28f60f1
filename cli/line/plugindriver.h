#ifndef SERVOCTL_PLUGINDRIVER_H
#define SERVOCTL_PLUGINDRIVER_H

// A driver of our own from the plug-in's plain entry point, loaded by path as
// the runtime does, never linked. Null when the plug-in cannot be loaded.

#include "driverinterface.h"
#include "driverloader.h"

class PluginDriver
{
public:
    PluginDriver()
        : m_driver(m_loader.load(QStringLiteral(TECO_SERVO_PLUGIN_PATH), DriverLoader::CreateDriverEntry))
    {
    }

    DriverInterface *get() const { return m_driver; }
    DriverInterface *operator->() const { return m_driver; }
    QString errorString() const { return m_loader.errorString(); }

private:
    DriverLoader m_loader;
    DriverInterface *m_driver;
};

#endif // SERVOCTL_PLUGINDRIVER_H
