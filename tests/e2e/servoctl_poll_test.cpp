// servoctl poll of several addresses and stations, its statistics and its
// log, on the built-in simulated line.
#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "servoctl_run.h"

namespace {

// The first number after "station" in the statistics row of station.
QList<qint64> statsRow(const QString &out, int station)
{
    const QRegularExpression row(QStringLiteral("^ +%1((?: +\\S+)+)").arg(station), QRegularExpression::MultilineOption);
    QList<qint64> numbers;
    const QString fields = row.match(out.section(QStringLiteral("statistics ("), 1)).captured(1);
    for (const QString &field : fields.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        numbers.append(field.toLongLong());
    return numbers;
}

} // namespace

// Registers within one request's reach share a read; what each address
// shows is what its own read shows.
TEST(ServoctlPoll, SeveralAddressesOfSeveralStationsInTheFewestReads)
{
    const QStringList items = QStringLiteral("HR1 word 2,HR3 signed,HR2.14 bit 4,HR100SW dword hex,HR101 byte 2,"
                                             "IR1,IR5 dword,DO3 bit 2,DO40")
                                  .split(QLatin1Char(','));
    const QStringList setUp = words("--sim write HR1 word 11 12 -3 then write HR100 word 0x1234 0xABCD then write "
                                    "DO40 bit 1 then station 2 then write HR1 word 21 22");
    QStringList pollArgs = setUp + words("then station 1,2 then poll"), readArgs = setUp;
    for (const QString &item : items)
        pollArgs += item.split(QLatin1Char(' '));
    pollArgs += words("--stats --polls 1");
    for (const char *station : {"1", "2"}) {
        readArgs += QStringList{"then", "station", station};
        for (const QString &item : items)
            readArgs += QStringList{"then", "read"} + item.split(QLatin1Char(' '));
    }
    const Outcome polled = servoctl(pollArgs);
    ASSERT_EQ(polled.status, 0) << qPrintable(polled.err);
    EXPECT_TRUE(holds(polled.out, "at stations 1,2 every 1000 ms, 6 reads a cycle"));
    // Each station: its writes, then one read each of HR, IR and DO; the
    // simulated line heard just these.
    EXPECT_EQ(statsRow(polled.out, 1).value(0), 3 + 3);
    EXPECT_EQ(statsRow(polled.out, 2).value(0), 1 + 3);
    EXPECT_TRUE(holds(polled.out, "statistics (built-in simulated line, RS485,9600,NONE,8,2)\n"));
    EXPECT_TRUE(holds(polled.out, "simulated line: 10 requests heard\n"));

    const Outcome read = servoctl(readArgs);
    ASSERT_EQ(read.status, 0) << qPrintable(read.err);
    QStringList expected;
    QString station;
    for (const QString &line : read.out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("> station ")))
            station = line.mid(10);
        else if (line.contains(QLatin1String(" = ")) && !station.isEmpty())
            expected.append(QStringLiteral("station %1  %2").arg(station, line));
    }
    EXPECT_EQ(polled.out.split(QLatin1Char('\n')).filter(QStringLiteral(" = ")), expected); // station prefixes kept
}

// Every request's outcome is counted by the driver's text for it: the
// faults the simulated line injected, each once.
TEST(ServoctlPoll, StatisticsCountWhatTheLineInjected)
{
    const Outcome run = servoctl(words("--sim --sim-faults drop=0.1,corrupt=0.1,exception=0.05 --sim-seed 7 --line "
                                       "RS485,115200,NONE,8,2 --timeout 100 --interval 0 --polls 150 --stats poll HR1 IR1"));
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    // requests good time-outs CRC exceptions other late retries
    const QList<qint64> row = statsRow(run.out, 1);
    ASSERT_GE(row.size(), 8) << qPrintable(run.out);
    const QString injected = run.out.section(QStringLiteral("injected:"), 1);
    const qint64 requests = row[0];
    const qint64 drops = counted(injected, "drop");
    const qint64 corrupts = counted(injected, "corrupt");
    EXPECT_EQ(row[1] + row[2] + row[3] + row[5], requests - counted(injected, "exception"));
    EXPECT_GE(row[2], drops);
    EXPECT_EQ(row[2] + row[3] + row[5], drops + corrupts);
    EXPECT_TRUE(holds(run.out, QStringLiteral(" 06x%1 ").arg(counted(injected, "exception"))));
    // Retried each: only a command's last failure goes unretried. The
    // rates the line was given: FaultPlan.FaultsRepeatFromTheSeedAtTheirRates.
    EXPECT_EQ(row[7], requests - 300);
}

// Answers in another station's number belong to the station asked: no row
// of their own, a line under the asked station's, one warning.
TEST(ServoctlPoll, AnotherStationsAnswersAreTheStationAskeds)
{
    const Outcome run = servoctl(words("--sim --sim-faults station=0.3 --sim-stations 1 --timeout 50 --interval 0 --polls 20 --stats poll HR1"));
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_TRUE(statsRow(run.out, 2).isEmpty()) << qPrintable(run.out);
    const qint64 wrong = counted(run.out.section(QStringLiteral("injected:"), 1), "station");
    ASSERT_GT(wrong, 0) << qPrintable(run.out);
    EXPECT_EQ(statsRow(run.out, 1).value(2), wrong) << "each a time-out of station 1";
    EXPECT_TRUE(holds(run.out,
                      QStringLiteral("\nstation 1: %1 answers from station 2 (another drive answered)\n").arg(wrong)));
    EXPECT_TRUE(holdsOnce(run.err, "servoctl: station 2 answered a request to station 1 (another drive "
                                   "answered: check the station numbers and the wiring)\n"));
}

// The log holds every read, a failed one with its error and no value, and
// every write with what it sent and whether it was acknowledged, each at
// its time, in order, with its offset from UTC. Station 2 is absent.
TEST(ServoctlPoll, LogsFailedReadsAndWritesAtTheirTimes)
{
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "XST-5:30"); // 5 h 30 min east of UTC, without time zone data
    const QString noAnswer = QStringLiteral("2,HR%1,,,read,PLC no response (read 2 word(s) from 2-HR1)");
    const QStringList cycle = {"1,HR1,0xFCE0,64736,read,", "1,HR2,0x0000,0,read,", noAnswer.arg(1), noAnswer.arg(2)};
    const struct
    {
        QStringList args;
        int status;
        QStringList rows; // after the time
    } cases[] = {
        {words("--polls 2 --interval 0 write HR1 word -800 then write HR10 float 1.5 then station 1,2 then poll HR1 word 2"),
         1, QStringList{"1,HR1,0xFCE0,-800,write,", "1,HR10,0x3FC00000,1.5,write,"} + cycle + cycle},
        {words("--station 2 write DO3 bit on then read HR1"), 1, {"2,DO3,0x1,1,write,PLC no response (write 1 bit to 2-DO3)"}},
        {words("station 0 then write HR3 word 4 then station 1 then read HR3"),
         0,
         {"0,HR3,0x0004,4,broadcast,", "1,HR3,0x0004,4,read,"}},
    };
    for (const auto &c : cases) {
        const Outcome run = servoctl(words("--sim --sim-stations 1 --timeout 50 --retries 0 --csv -") + c.args);
        EXPECT_EQ(run.status, c.status) << qPrintable(run.err);
        QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        EXPECT_EQ(lines.value(0), QStringLiteral("time,station,address,raw,value,kind,error"));
        QStringList rows;
        QDateTime last;
        for (const QString &line : lines.mid(1)) {
            const QString time = line.section(QLatin1Char(','), 0, 0);
            EXPECT_TRUE(matches(time, "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\+05:30$"));
            const QDateTime at = QDateTime::fromString(time, Qt::ISODateWithMs);
            EXPECT_TRUE(at >= last) << qPrintable(line);
            last = at;
            rows.append(line.section(QLatin1Char(','), 1));
        }
        EXPECT_EQ(rows, c.rows);
    }
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
}
