// Line benchmarks: the plug-in on our termios port against libmodbus's RTU
// client on the same simulated line, alternating runs.
//
//   line_bench line [--seconds S] [--plot FILE]  paced line at 9600, 19200
//                                                and 115200 baud
//   line_bench pty [--seconds S]                 unpaced pseudo-terminal
//   line_bench port                              the port's waiting choices
//
// Prints Markdown tables. Figures only: nothing here passes or fails.
#include <sys/prctl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include "line_bench.h"

#include "clients.h"
#include "deadlinesleeper.h"
#include "measure.h"
#include "pacedline.h"
#include "serialport.h"
#include "sharedfile.h"
#include "simline.h"
#include "termiosline.h"
#include "tools.h"

namespace {

const int kCounts[] = {1, 10, 125};
const int kRequestChars = 8;

double gSeconds = 1.0; // measuring time per client and case, split in rounds
const int kRounds = 4;

} // namespace

LineSettings settingsFor(int baud)
{
    LineSettings s;
    s.baudRate = baud;
    s.parity = LineSettings::NoParity;
    s.dataBits = 8;
    s.stopBits = 2; // 11 bits a character
    return s;
}

namespace {

int answerChars(int count)
{
    return 5 + 2 * count;
}

double wireMinimumNs(const LineSettings &s, int count)
{
    return double(kRequestChars + answerChars(count)) * double(s.characterTimeNs()) + double(s.silentIntervalNs());
}

struct Totals
{
    Sample time;
    long long transactions = 0;
    long long failures = 0;
    long long gapCount = 0;
    double gapSumNs = 0;

    double perTx(double Sample::*field) const { return transactions ? time.*field / double(transactions) : 0; }
    double gapMeanNs() const { return gapCount ? gapSumNs / double(gapCount) : 0; }
};

// One run: open, one transaction to settle, n measured ones, close.
bool runClient(Client &client, const QString &path, const LineSettings &settings, int count, long long n,
               PacedLine &line, Totals &totals)
{
    if (!client.open(path, settings)) {
        std::fprintf(stderr, "%s: %s\n", client.name(), qPrintable(client.errorString()));
        return false;
    }
    client.readRegisters(count);
    line.takeGaps();
    const Sample start = Sample::now();
    for (long long i = 0; i < n; ++i) {
        if (!client.readRegisters(count))
            ++totals.failures;
    }
    totals.time += Sample::now() - start;
    totals.transactions += n;
    const PacedLine::Gaps gaps = line.takeGaps();
    totals.gapCount += gaps.count;
    totals.gapSumNs += gaps.meanNs * double(gaps.count);
    client.close();
    return true;
}

// Alternates the clients round by round, the first one changing each round.
bool alternate(const QList<Client *> &clients, QList<Totals> &totals, PacedLine &line,
               const LineSettings &settings, int count, long long perRound)
{
    for (int round = 0; round < kRounds; ++round) {
        for (int k = 0; k < clients.size(); ++k) {
            const int i = (k + round) % clients.size();
            if (!runClient(*clients[i], line.path(), settings, count, perRound, line, totals[i]))
                return false;
        }
    }
    return true;
}

} // namespace

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

void print(const QString &text)
{
    std::fputs(qPrintable(text), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

namespace {

QString failures(const Totals &t)
{
    return t.failures ? QStringLiteral(" (%1 failed)").arg(t.failures) : QString();
}

// ---- line --------------------------------------------------------------------

int runLine(const QString &plotFile)
{
    PluginClient plugin;
    LibmodbusClient libmodbus;
    const QList<Client *> clients = {&plugin, &libmodbus};
    QStringList plot;
    print(QStringLiteral("| Baud | Registers | Wire minimum (ms) | Plug-in (ms) | Plug-in efficiency "
                         "| libmodbus (ms) | libmodbus efficiency | Plug-in / libmodbus "
                         "| Silence before a request, plug-in / libmodbus (us) "
                         "| Lost beyond bytes and kept silence, plug-in / libmodbus (us) "
                         "| CPU per transaction, plug-in / libmodbus (us) |"));
    print(QStringLiteral("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"));
    bool realTime = true;
    for (const int baud : kBauds) {
        const LineSettings settings = settingsFor(baud);
        SimLine sim({1});
        PacedLine line(&sim);
        if (!line.open(settings, true) || !line.start()) {
            std::fprintf(stderr, "%s\n", qPrintable(line.errorString()));
            return 1;
        }
        realTime = realTime && line.realTime();
        QStringList plotRow = {QString::number(baud)};
        for (const int count : kCounts) {
            const double minimum = wireMinimumNs(settings, count);
            const long long perRound = qMax(2LL, llround(gSeconds * 1e9 / kRounds / minimum));
            QList<Totals> totals = {Totals(), Totals()};
            if (!alternate(clients, totals, line, settings, count, perRound))
                return 1;
            const double ours = totals[0].perTx(&Sample::wallNs);
            const double theirs = totals[1].perTx(&Sample::wallNs);
            // The plug-in keeps the silent interval, libmodbus none: what
            // each loses beyond the characters and the silence it keeps.
            const double bytes = minimum - double(settings.silentIntervalNs());
            const double oursLost = ours - bytes - double(settings.silentIntervalNs());
            const double theirsLost = theirs - bytes;
            print(QStringLiteral("| %1 | %2 | %3 | %4%5 | %6 | %7%8 | %9 | %10 | %11 / %12 | %13 / %14 "
                                 "| %15 / %16 |")
                      .arg(baud)
                      .arg(count)
                      .arg(fixed(minimum / 1e6, 3))
                      .arg(fixed(ours / 1e6, 3))
                      .arg(failures(totals[0]))
                      .arg(fixed(minimum / ours, 3))
                      .arg(fixed(theirs / 1e6, 3))
                      .arg(failures(totals[1]))
                      .arg(fixed(minimum / theirs, 3))
                      .arg(fixed(theirs / ours, 3))
                      .arg(fixed(totals[0].gapMeanNs() / 1e3, 0))
                      .arg(fixed(totals[1].gapMeanNs() / 1e3, 0))
                      .arg(fixed(oursLost / 1e3, 0))
                      .arg(fixed(theirsLost / 1e3, 0))
                      .arg(fixed(totals[0].perTx(&Sample::cpuNs) / 1e3, 0))
                      .arg(fixed(totals[1].perTx(&Sample::cpuNs) / 1e3, 0)));
            plotRow << fixed(minimum / ours, 4) << fixed(minimum / theirs, 4);
        }
        plot << plotRow.join(QLatin1Char(' '));
        line.stop();
    }
    print(QString());
    print(QStringLiteral("Simulated drive's thread at real-time priority: %1.")
              .arg(realTime ? QStringLiteral("yes") : QStringLiteral("no")));
    if (!plotFile.isEmpty()) {
        QString refusal;
        FILE *out = rewriteOwnFile(QFile::encodeName(plotFile), &refusal);
        if (!out) {
            std::fprintf(stderr, "line_bench: cannot write %s%s%s\n", qPrintable(plotFile),
                         refusal.isEmpty() ? "" : ": ", qPrintable(refusal));
            return 1;
        }
        std::fputs("# baud, then plug-in and libmodbus efficiency for 1, 10, 125 registers\n", out);
        for (const QString &row : plot)
            std::fprintf(out, "%s\n", qPrintable(row));
        std::fclose(out);
    }
    return 0;
}

// ---- pty -------------------------------------------------------------------

// A client run with the calling thread's timer slack set for it.
class SlackClient : public Client
{
public:
    SlackClient(Client *inner, unsigned long slackNs, const char *label)
        : m_inner(inner), m_slackNs(slackNs), m_label(label)
    {
    }
    const char *name() const override { return m_label; }
    bool open(const QString &path, const LineSettings &settings) override
    {
        m_saved = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        prctl(PR_SET_TIMERSLACK, m_slackNs, 0, 0, 0);
        return m_inner->open(path, settings);
    }
    void close() override
    {
        m_inner->close();
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(m_saved), 0, 0, 0);
    }
    bool readRegisters(int count) override { return m_inner->readRegisters(count); }

private:
    Client *m_inner;
    unsigned long m_slackNs;
    const char *m_label;
    int m_saved = 0;
};

// The plug-in with the port's silence set before each run.
class SilenceClient : public Client
{
public:
    SilenceClient(PluginClient *inner, qint64 silenceNs) : m_inner(inner), m_silenceNs(silenceNs) {}
    const char *name() const override { return m_inner->name(); }
    bool open(const QString &path, const LineSettings &settings) override
    {
        m_inner->port()->setSilentInterval(m_silenceNs);
        return m_inner->open(path, settings);
    }
    void close() override { m_inner->close(); }
    bool readRegisters(int count) override { return m_inner->readRegisters(count); }

private:
    PluginClient *m_inner;
    qint64 m_silenceNs;
};

Totals measureSleep(unsigned long slackNs, long long n)
{
    const int saved = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, slackNs, 0, 0, 0);
    Totals t;
    const Sample start = Sample::now();
    for (long long i = 0; i < n; ++i)
        HRSleep(0);
    t.time = Sample::now() - start;
    t.transactions = n;
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(saved), 0, 0, 0);
    return t;
}

int runPty()
{
    const LineSettings settings = settingsFor(115200);
    SimLine sim({1});
    PacedLine line(&sim);
    if (!line.open(settings, false) || !line.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(line.errorString()));
        return 1;
    }
    PluginClient plugin;
    LibmodbusClient libmodbus;
    SilenceClient noSilence(&plugin, 0);
    SilenceClient lineSilence(&plugin, -1);
    SlackClient pluginDefault(&noSilence, 50000, "plug-in, no silence, timer slack 50 us (default)");
    SlackClient pluginFine(&noSilence, 1, "plug-in, no silence, timer slack 1 ns (host lowered it)");
    SlackClient pluginSilence(&lineSilence, 50000, "plug-in, 1.75 ms silence kept, slack 50 us");
    SlackClient libmodbusDefault(&libmodbus, 50000, "libmodbus, timer slack 50 us (default)");
    const QList<Client *> clients = {&libmodbusDefault, &pluginDefault, &pluginFine, &pluginSilence};

    // The frame-delay sleep's own CPU, to take out of the plug-in's figures.
    const double sleepCpuDefault = measureSleep(50000, 20000).perTx(&Sample::cpuNs);
    const double sleepCpuFine = measureSleep(1, 20000).perTx(&Sample::cpuNs);
    const double sleepCpu[] = {0, sleepCpuDefault, sleepCpuFine, sleepCpuDefault};

    print(QStringLiteral("| Registers | Client | Transactions/s | Wall per transaction (us) "
                         "| CPU user (us) | CPU system (us) | CPU total (us) | CPU / libmodbus "
                         "| CPU less HRSleep(0) (us) | That / libmodbus |"));
    print(QStringLiteral("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|"));
    for (const int count : kCounts) {
        QList<Totals> totals;
        for (int i = 0; i < clients.size(); ++i)
            totals << Totals();
        // About gSeconds for the fastest client; the others take longer.
        const long long perRound = qMax(50LL, llround(gSeconds * 1e9 / kRounds / 60000.0));
        for (int round = 0; round < kRounds; ++round) {
            for (int k = 0; k < clients.size(); ++k) {
                const int i = (k + round) % clients.size();
                // The silence-keeping client is slow by design: fewer runs.
                const long long n = i == 3 ? qMax(20LL, perRound / 30) : perRound;
                if (!runClient(*clients[i], line.path(), settings, count, n, line, totals[i]))
                    return 1;
            }
        }
        const double base = totals[0].perTx(&Sample::cpuNs);
        for (int i = 0; i < clients.size(); ++i) {
            const Totals &t = totals[i];
            const double cpu = t.perTx(&Sample::cpuNs);
            const double less = cpu - sleepCpu[i];
            print(QStringLiteral("| %1 | %2%3 | %4 | %5 | %6 | %7 | %8 | %9 | %10 | %11 |")
                      .arg(count)
                      .arg(QLatin1String(clients[i]->name()))
                      .arg(failures(t))
                      .arg(fixed(1e9 / t.perTx(&Sample::wallNs), 0))
                      .arg(fixed(t.perTx(&Sample::wallNs) / 1e3, 1))
                      .arg(fixed(t.perTx(&Sample::userNs) / 1e3, 1))
                      .arg(fixed(t.perTx(&Sample::systemNs) / 1e3, 1))
                      .arg(fixed(cpu / 1e3, 1))
                      .arg(fixed(cpu / base, 2))
                      .arg(i == 0 ? QStringLiteral("-") : fixed(less / 1e3, 1))
                      .arg(i == 0 ? QStringLiteral("-") : fixed(less / base, 2)));
        }
    }
    line.stop();

    print(QString());
    print(QStringLiteral("The frame-delay wait alone, HRSleep(0), once before every attempt:"));
    print(QString());
    print(QStringLiteral("| Timer slack | Wall per call (us) | CPU user (us) | CPU system (us) | CPU total (us) |"));
    print(QStringLiteral("|---|---:|---:|---:|---:|"));
    for (const unsigned long slack : {50000ul, 1ul}) {
        const Totals t = measureSleep(slack, 20000);
        print(QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
                  .arg(slack == 1 ? QStringLiteral("1 ns") : QStringLiteral("50 us (default)"))
                  .arg(fixed(t.perTx(&Sample::wallNs) / 1e3, 1))
                  .arg(fixed(t.perTx(&Sample::userNs) / 1e3, 1))
                  .arg(fixed(t.perTx(&Sample::systemNs) / 1e3, 1))
                  .arg(fixed(t.perTx(&Sample::cpuNs) / 1e3, 1)));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    QString plotFile;
    for (int i = 2; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds"))
            gSeconds = qMax(0.05, args[i + 1].toDouble());
        else if (args[i] == QLatin1String("--plot"))
            plotFile = args[i + 1];
    }
    if (mode == QLatin1String("line"))
        return runLine(plotFile);
    if (mode == QLatin1String("pty"))
        return runPty();
    if (mode == QLatin1String("port"))
        return runPort();
    std::fprintf(stderr, "usage: line_bench line|pty|port [--seconds S] [--plot FILE]\n");
    return 2;
}
