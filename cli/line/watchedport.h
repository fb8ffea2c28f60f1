#ifndef SERVOCTL_WATCHEDPORT_H
#define SERVOCTL_WATCHEDPORT_H

#include <QtGlobal>

#include "abstractdeviceinterface.h"

class DriverInterface;
class LineStats;

// The port as the driver sees it, passing every call on to the real one
// and telling the statistics what became of each request. The outcome of
// a request is the driver's own error text for it: the driver asks for the
// frame delay before each attempt and between the frames of one command,
// while the error of the request before still stands, and it sends the
// next frame of a command only when the one before was answered. A request
// whose wait a signal cut short is not counted: its outcome is unknown.
class WatchedPort : public AbstractDeviceInterface
{
public:
    WatchedPort(AbstractDeviceInterface *port, DriverInterface *driver, LineStats *stats);

    // Around each call of the driver: a command's last request ends with it.
    void beginCall();
    void endCall();

    int receive(char *buffer, int maxLength) override;
    int send(const char *data, int length) override;
    bool setOption(int option, const QVariant &value) override;
    int retryCount() override;
    int stationId() override;
    int frameDelay() override;

private:
    void closeRequest(bool answered);

    AbstractDeviceInterface *m_port;
    DriverInterface *m_driver;
    LineStats *m_stats;
    bool m_open = false; // a request sent, its outcome not yet known
    int m_station = 0;
    qint64 m_sentNs = 0;
    qint64 m_lastByteNs = 0;
    bool m_retry = false;       // the request is sent again after a failed one
    bool m_interrupted = false; // a signal came while its answer was awaited
};

#endif // SERVOCTL_WATCHEDPORT_H
