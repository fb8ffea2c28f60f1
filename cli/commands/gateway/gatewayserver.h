#ifndef SERVOCTL_GATEWAYSERVER_H
#define SERVOCTL_GATEWAYSERVER_H

#include <deque>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "gatewaystats.h"
#include "mbap.h"
#include "tcpaddress.h"

// The RTU line as the gateway uses it: one request at a time, judged.
class GatewayLine
{
public:
    struct Outcome
    {
        enum Kind {
            Answer,    // rtu: the whole answer, normal or exception, CRC good
            NoAnswer,  // nothing usable within the time-out
            Uncertain, // an answer the judgement cannot vouch for
            Gone,      // the line is lost, and not back yet
            Sent       // a broadcast: sent, answered by no one
        };
        Kind kind = NoAnswer;
        QByteArray rtu;
    };
    virtual ~GatewayLine();
    // request: a whole RTU request of a known function and length.
    virtual Outcome transact(const QByteArray &request) = 0;
};

// "servoctl: gateway: TEXT" on standard error, a line a connection or an
// event of the line.
void gatewayLog(const QString &text);

struct GatewaySettings
{
    TcpAddress listen{QStringLiteral("127.0.0.1"), kModbusTcpPort, true};
    bool readOnly = false;
    int maxClients = 8;
    int idleS = 60; // a client that sends nothing this long is closed
};

// servoctl gateway: serves Modbus TCP clients on a listening socket and
// puts each request onto one RTU line, one at a time, clients in turn; the
// answer goes back under the client's transaction number. What the line
// cannot vouch for goes back as exception 0x0B, a line that is gone as
// 0x0A; what is malformed never reaches the line.
// Called by: the gateway command, on the main thread; serve() blocks.
class GatewayServer
{
public:
    GatewayServer(GatewayLine *line, const GatewaySettings &settings);
    ~GatewayServer();
    bool listen(QString *error);
    TcpAddress address() const { return m_settings.listen; }
    // Until stopFd becomes readable; when statsFd does, the statistics are
    // printed (and the byte read).
    void serve(int stopFd, int statsFd);
    // By station, then by client connected.
    QStringList statsLines() const;

private:
    struct Client;
    struct Request
    {
        MbapFrame frame;
        qint64 queuedNs = 0;
    };

    void accept();
    void readFrom(Client &client);
    void takeFrames(Client &client);
    void take(Client &client, const MbapFrame &frame);
    // Closes its socket now; serve() says why and lets it go.
    void drop(Client &client, const QString &why);
    bool writeTo(Client &client);
    void closeClient(size_t index, const QString &why);
    void serveNext();
    void answer(Client &client, const Request &request, const GatewayLine::Outcome &outcome, qint64 waitNs);
    void reply(Client &client, const MbapFrame &request, const QByteArray &pdu);
    void refuse(Client &client, const MbapFrame &request, int code, GatewayTally::End end, qint64 waitNs);
    void closeIdle(qint64 nowNs);
    int waitMs(qint64 nowNs) const;

    GatewayLine *m_line;
    GatewaySettings m_settings;
    int m_listenFd = -1;
    std::vector<std::unique_ptr<Client>> m_clients;
    size_t m_turn = 0; // the client whose request goes next, in turn
    GatewayStats m_stats;
};

#endif // SERVOCTL_GATEWAYSERVER_H
