#ifndef COUNTINGPORT_H
#define COUNTINGPORT_H

#include "abstractdeviceinterface.h"

// Passes every call on to the real port and counts what the soak needs:
// the dispatch asks for the retry count once after each failed attempt, so
// those questions count the failed attempts of a command.
class CountingPort : public AbstractDeviceInterface
{
public:
    explicit CountingPort(AbstractDeviceInterface *port) : m_port(port) {}

    qint64 failedAttempts = 0;
    qint64 requests = 0;

    int receive(char *buffer, int maxLength) override { return m_port->receive(buffer, maxLength); }
    int send(const char *data, int length) override
    {
        ++requests;
        return m_port->send(data, length);
    }
    bool setOption(int option, const QVariant &value) override { return m_port->setOption(option, value); }
    int retryCount() override
    {
        ++failedAttempts;
        return m_port->retryCount();
    }
    int stationId() override { return m_port->stationId(); }
    int frameDelay() override { return m_port->frameDelay(); }

private:
    AbstractDeviceInterface *m_port;
};

#endif // COUNTINGPORT_H
