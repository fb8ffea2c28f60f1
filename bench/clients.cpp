#include "clients.h"

#include <modbus.h>

#include "communicatorcommand.h"
#include "driverinterface.h"
#include "serialport.h"

PluginClient::PluginClient() : m_port(new SerialPort)
{
    m_driver = m_loader.load(QStringLiteral(TECO_SERVO_PLUGIN_PATH), DriverLoader::CreateDriverEntry);
}

PluginClient::~PluginClient()
{
    close();
}

bool PluginClient::open(const QString &path, const LineSettings &settings)
{
    if (!m_driver) {
        m_error = m_loader.errorString();
        return false;
    }
    if (!m_port->open(path, settings)) {
        m_error = m_port->errorString();
        return false;
    }
    m_port->setStationId(1);
    m_port->setRetryCount(0);
    m_port->setFrameDelay(0);
    m_port->setAnswerTimeout(500);
    m_driver->initialize(m_port.get());
    return true;
}

void PluginClient::close()
{
    m_port->close();
}

bool PluginClient::readRegisters(int count)
{
    const CommunicatorCommand cmd(CommunicatorCommand::Word, count, QStringLiteral("HR1"));
    m_driver->read(m_port.get(), cmd);
    return !m_driver->hasError();
}

bool LibmodbusClient::open(const QString &path, const LineSettings &settings)
{
    const char parity = settings.parity == LineSettings::NoParity ? 'N'
                        : settings.parity == LineSettings::OddParity
                            ? 'O'
                            : 'E';
    m_ctx = modbus_new_rtu(path.toLocal8Bit().constData(), settings.baudRate, parity, settings.dataBits, settings.stopBits);
    if (!m_ctx || modbus_set_slave(m_ctx, 1) != 0 || modbus_connect(m_ctx) != 0) {
        m_error = QStringLiteral("libmodbus: %1").arg(QLatin1String(modbus_strerror(errno)));
        close();
        return false;
    }
    return true;
}

void LibmodbusClient::close()
{
    if (!m_ctx)
        return;
    modbus_close(m_ctx);
    modbus_free(m_ctx);
    m_ctx = nullptr;
}

bool LibmodbusClient::readRegisters(int count)
{
    uint16_t registers[125];
    return modbus_read_registers(m_ctx, 0, count, registers) == count;
}
