// servoctl gateway: one process owns the RTU line and serves Modbus TCP
// clients, each request through the port's judgement, one at a time.
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "commandwords.h"
#include "gatewayserver.h"
#include "interrupt.h"
#include "modbuscrc.h"
#include "rtulength.h"
#include "serialport.h"
#include "session.h"
#include "termiosline.h"

namespace {

const qint64 kMs = 1000000;
// A lost line is tried again at most this often, and only when a request
// comes: no request, no work.
const qint64 kLineBackTryNs = 250 * kMs;

struct GatewayStep : StepData
{
    GatewaySettings settings;
};

bool parseCount(const QString &word, const QString &value, int min, int max, int *count, QString *error)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (ok && number >= min && number <= max && !value.startsWith(QLatin1Char('+'))) {
        *count = number;
        return true;
    }
    *error = QStringLiteral("gateway: %1 takes %2 to %3, not %4").arg(word).arg(min).arg(max).arg(value);
    return false;
}

// gateway [listen [HOST:]PORT] [read-only] [clients N] [idle SECONDS]
bool buildGateway(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    if (!options.stations.isEmpty()) {
        *error = QStringLiteral("gateway serves the stations its clients ask for, not --station's");
        return false;
    }
    step->stations = chain->stations;
    step->station = chain->stations.first();
    auto own = std::make_shared<GatewayStep>();
    GatewaySettings &settings = own->settings;
    const QStringList &args = command.args;
    for (int i = 0; i < args.size(); ++i) {
        const QString &word = args[i];
        const bool takesValue = word == QLatin1String("listen") || word == QLatin1String("clients")
                                || word == QLatin1String("idle");
        if (takesValue && i + 1 == args.size()) {
            *error = QStringLiteral("gateway: %1 needs a value").arg(word);
            return false;
        }
        if (word == QLatin1String("listen")) {
            if (!parseListenAddress(args[++i], &settings.listen, error)) {
                *error = QStringLiteral("gateway: listen: ") + error->mid(error->indexOf(QLatin1String(": ")) + 2);
                return false;
            }
            settings.listen.modbusTcp = true;
        } else if (word == QLatin1String("clients")) {
            if (!parseCount(word, args[++i], 1, 64, &settings.maxClients, error))
                return false;
        } else if (word == QLatin1String("idle")) {
            if (!parseCount(word, args[++i], 1, 86400, &settings.idleS, error))
                return false;
        } else if (word == QLatin1String("read-only")) {
            settings.readOnly = true;
        } else {
            *error = QStringLiteral("gateway: not listen, read-only, clients or idle: %1").arg(word);
            return false;
        }
    }
    step->own = own;
    return true;
}

// The session's port as the gateway's line.
class PortLine : public GatewayLine
{
public:
    explicit PortLine(Session &session) : m_session(session) {}

    Outcome transact(const QByteArray &request) override
    {
        SerialPort *port = m_session.port();
        if (port->isLost() && !takenUpAgain())
            return Outcome{Outcome::Gone, {}};
        const PortCounters before = port->counters();
        const bool sent = port->send(request.constData(), request.size()) == request.size();
        if (sent && quint8(request[0]) == 0)
            return Outcome{Outcome::Sent, {}};
        const int expected = rtuAnswerLengthFor(request.constData(), request.size());
        QByteArray answer(kMaxMbapFrame, '\0');
        const int got = sent ? port->receive(answer.data(), expected) : -1;
        if (port->isLost()) {
            m_lostSince = monotonicNs();
            gatewayLog(port->errorString());
            return Outcome{Outcome::Gone, {}};
        }
        sayOnce(port->errorString());
        const PortCounters after = port->counters();
        if (after.uncertainAnswers > before.uncertainAnswers || after.uncertainEchoes > before.uncertainEchoes)
            return Outcome{Outcome::Uncertain, {}};
        answer.truncate(qMax(got, 0));
        return Outcome{isAnswerTo(request, answer, expected) ? Outcome::Answer : Outcome::NoAnswer, answer};
    }

private:
    // Its station and function, the length they give and a good CRC: the
    // answer the request asked for, or the drive's exception to it.
    static bool isAnswerTo(const QByteArray &request, const QByteArray &answer, int expected)
    {
        if (answer.size() < 5 || !hasValidModbusCrc(answer) || answer[0] != request[0])
            return false;
        if (answer[1] == request[1])
            return answer.size() == expected;
        return quint8(answer[1]) == (quint8(request[1]) | 0x80) && answer.size() == 5;
    }

    bool takenUpAgain()
    {
        const qint64 now = monotonicNs();
        if (now - m_lastTryNs < kLineBackTryNs)
            return false;
        m_lastTryNs = now;
        if (!m_session.tryLineBack(&m_said))
            return false;
        gatewayLog(QStringLiteral("line back after %1 s").arg(double(now - m_lostSince) / 1e9, 0, 'f', 1));
        return true;
    }

    // What stops the port besides a loss (an echo at odds with the
    // setting): said when it changes, not with every request.
    void sayOnce(const QString &error)
    {
        if (!error.isEmpty() && error != m_lastError && m_session.port()->echoFault() != EchoFault::None)
            gatewayLog(error);
        m_lastError = error;
    }

    Session &m_session;
    qint64 m_lastTryNs = 0, m_lostSince = 0;
    QString m_said, m_lastError;
};

int g_statsPipe[2] = {-1, -1};

void askForStats(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(g_statsPipe[1], &byte, 1);
    errno = saved;
}

// SIGUSR1 prints the statistics so far; the descriptor to watch, or -1.
int statsOnDemand()
{
    if (g_statsPipe[0] < 0 && pipe2(g_statsPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    struct sigaction action = {};
    action.sa_handler = askForStats;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    return g_statsPipe[0];
}

int runGateway(Session &session, const Step &step)
{
    const GatewaySettings &settings = static_cast<const GatewayStep &>(*step.own).settings;
    PortLine line(session);
    GatewayServer server(&line, settings);
    QString error;
    if (!server.listen(&error))
        return failure(QStringLiteral("gateway"), error);
    std::printf("serving %s for %s%s; Ctrl-C stops, SIGUSR1 prints the statistics\n", qPrintable(server.address().url()),
                qPrintable(lineText(session.options(), session.port()->lineSettings())),
                settings.readOnly ? ", read-only" : "");
    std::fflush(stdout);
    server.serve(interruptWakeFd(), statsOnDemand());
    std::printf("gateway statistics\n");
    for (const QString &text : server.statsLines())
        std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    return 0;
}

} // namespace

extern const CommandEntry gatewayCommand = {
    "gateway",
    Step::Gateway,
    true,
    false,
    false,
    false,
    buildGateway,
    runGateway,
    "gateway [listen ADDRESS] [read-only] [clients N] [idle S]",
    "serve Modbus TCP clients on ADDRESS ([HOST:]PORT,\n"
    "default 127.0.0.1:502) with the line, one\n"
    "request at a time, clients in turn; read-only\n"
    "answers writes with exception 01; at most N\n"
    "clients (8); one idle S seconds (60) is closed\n"
    "(servoctl.md, \"Modbus TCP gateway\")"};
