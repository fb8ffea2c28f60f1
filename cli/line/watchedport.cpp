#include "watchedport.h"

#include "driverinterface.h"
#include "interrupt.h"
#include "linestats.h"
#include "termiosline.h"

WatchedPort::WatchedPort(AbstractDeviceInterface *port, DriverInterface *driver, LineStats *stats)
    : m_port(port), m_driver(driver), m_stats(stats)
{
}

void WatchedPort::beginCall()
{
    m_open = false;
    m_retry = false;
}

void WatchedPort::endCall()
{
    if (m_open)
        closeRequest(false);
}

// answered: the driver went on to the command's next frame, so it took
// this one's answer.
void WatchedPort::closeRequest(bool answered)
{
    m_open = false;
    const QString error = answered || !m_driver->hasError() ? QString() : m_driver->getLastError();
    // A wait a signal cut short says nothing of the line: not a failure.
    if (error.isEmpty() || !m_interrupted)
        m_stats->addRequest(m_station, error, m_lastByteNs - m_sentNs, m_retry);
    m_retry = false;
    m_interrupted = false;
}

int WatchedPort::send(const char *data, int length)
{
    if (m_open)
        closeRequest(true);
    m_open = length > 0;
    m_interrupted = false;
    m_station = length > 0 ? quint8(data[0]) : 0;
    const int sent = m_port->send(data, length);
    // From the request on the line: the port may first hold it back while
    // the station still owes an answer.
    m_sentNs = monotonicNs();
    m_lastByteNs = m_sentNs;
    return sent;
}

int WatchedPort::receive(char *buffer, int maxLength)
{
    const int received = m_port->receive(buffer, maxLength);
    m_lastByteNs = monotonicNs();
    m_interrupted = m_interrupted || interruptSignal() != 0;
    return received;
}

int WatchedPort::frameDelay()
{
    if (m_open) {
        const bool failed = m_driver->hasError();
        closeRequest(false);
        // The driver tries again after a failed request while retries are left.
        m_retry = failed;
    }
    return m_port->frameDelay();
}

bool WatchedPort::setOption(int option, const QVariant &value)
{
    return m_port->setOption(option, value);
}

int WatchedPort::retryCount()
{
    return m_port->retryCount();
}

int WatchedPort::stationId()
{
    return m_port->stationId();
}
