#ifndef PLUGIN_DRIVER_H
#define PLUGIN_DRIVER_H

// A driver of our own from the plug-in's plain entry point, loaded by path as
// the runtime does, never linked. Null when the plug-in cannot be loaded.

#include <dlfcn.h>

#include <memory>

#include "driverinterface.h"

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
    PluginDriver(const PluginDriver &) = delete;
    PluginDriver &operator=(const PluginDriver &) = delete;

    DriverInterface *get() const { return m_driver.get(); }
    DriverInterface *operator->() const { return m_driver.get(); }

private:
    void *m_handle = nullptr;
    std::unique_ptr<DriverInterface> m_driver;
};

#endif // PLUGIN_DRIVER_H
