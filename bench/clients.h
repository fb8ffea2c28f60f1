#ifndef CLIENTS_H
#define CLIENTS_H

#include <memory>

#include <QString>

#include "driverloader.h"
#include "linesettings.h"

class DriverInterface;
class SerialPort;
struct _modbus;

// The two Modbus masters compared: the plug-in (loaded through its entry
// point, as the runtime loads it) on our termios port, and libmodbus's RTU
// client. Both read holding registers from station 1, address 0.
class Client
{
public:
    virtual ~Client() = default;
    virtual const char *name() const = 0;
    // False with errorString() when the line cannot be opened.
    virtual bool open(const QString &path, const LineSettings &settings) = 0;
    virtual void close() = 0;
    // One transaction; false when it failed.
    virtual bool readRegisters(int count) = 0;
    QString errorString() const { return m_error; }

protected:
    QString m_error;
};

class PluginClient : public Client
{
public:
    PluginClient();
    ~PluginClient() override;
    const char *name() const override { return "plug-in + termios port"; }
    bool open(const QString &path, const LineSettings &settings) override;
    void close() override;
    bool readRegisters(int count) override;
    SerialPort *port() { return m_port.get(); }

private:
    DriverLoader m_loader;
    DriverInterface *m_driver = nullptr;
    std::unique_ptr<SerialPort> m_port;
};

class LibmodbusClient : public Client
{
public:
    ~LibmodbusClient() override { close(); }
    const char *name() const override { return "libmodbus"; }
    bool open(const QString &path, const LineSettings &settings) override;
    void close() override;
    bool readRegisters(int count) override;

private:
    _modbus *m_ctx = nullptr;
};

#endif // CLIENTS_H
