// The monitor's pure parts with given times: the framer's splits, the
// pairer's verdicts as the user reads them, the capture's bytes.
#include <csignal>
#include <ctime>

#include <sys/resource.h>

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "bitwise_crc.h"
#include "linesettings.h"
#include "modbuscrc.h"
#include "monitorframer.h"
#include "monitorjson.h"
#include "monitorpairer.h"
#include "monitorreport.h"
#include "monitortimeline.h"
#include "parammap.h"
#include "pcapwriter.h"
#include "commands.h"
#include "csvlog.h"

namespace {

const qint64 kMs = 1000000;

HeardFrame heard(const QByteArray &bytes, qint64 beginMs, qint64 endMs, qint64 silenceMs = -1, qint64 gapUs = 0)
{
    HeardFrame frame;
    frame.bytes = bytes;
    frame.beginNs = beginMs * kMs;
    frame.endNs = endMs * kMs;
    frame.silenceBeforeNs = silenceMs < 0 ? -1 : silenceMs * kMs;
    frame.longestGapNs = gapUs * 1000;
    frame.crcOk = hasValidModbusCrc(bytes);
    return frame;
}

// The transactions a pairer makes of frames heard.
QList<Transaction> paired(const QList<HeardFrame> &frames)
{
    MonitorPairer pairer(1000 * kMs);
    QList<Transaction> done;
    for (const HeardFrame &frame : frames)
        pairer.add(frame, &done);
    pairer.finish(&done);
    return done;
}

// The line's default settings, 9600 8N2 (tests/port pins them).
const MonitorJudging kJudging{LineSettings().characterTimeNs(), LineSettings().silentIntervalNs(), true};
// A read of two registers and its answer, 8 and 9 bytes.
const QByteArray kRead = hexWithCrc("010300000002"), kAnswer = hexWithCrc("01030400070009");

TEST(MonitorFramer, SplitsBySilenceAndByWholeFramesAndStaysBounded)
{
    const qint64 c = kJudging.characterNs;
    struct Case
    {
        const char *what;
        QList<QPair<QByteArray, qint64>> chunks; // bytes, read at ns
        QStringList frames;                      // "hex crc silence-in-chars gap-in-chars"
        bool wholeFrames = false;                // a pseudo-terminal: each frame read whole as it began
    };
    const QByteArray r = kRead.toHex(), a = kAnswer.toHex(); // as the frames are shown
    const QList<Case> cases = {
        // A UART's bytes are read once their stop bits are in: the 9 of the
        // kAnswer read at 29c began at 20c, 12 characters after the kRead.
        {"request, silence, answer", {{kRead, 8 * c}, {kAnswer, 29 * c}}, {r + " ok - 0", a + " ok 12 0"}},
        {"a gap of two characters inside a frame", {{kRead.left(3), 3 * c}, {kRead.mid(3), 10 * c}}, {r + " ok - 2"}},
        {"bytes read one by one, back to back: no gap",
         {{kRead.left(1), c}, {kRead.mid(1, 1), 2 * c}, {kRead.mid(2), 8 * c}},
         {r + " ok - 0"}},
        {"a whole frame, then the next after two characters: too soon",
         {{kRead, 8 * c}, {kAnswer, 19 * c}},
         {r + " ok - 0", a + " ok 2 0"}},
        {"a master that keeps no silence: its request one character after the answer",
         {{kAnswer, 9 * c}, {kRead, 18 * c}},
         {a + " ok - 0", r + " ok 1 0"}},
        {"two frames in one read", {{kRead + kAnswer, 0}}, {r + " ok - 0", a + " ok - 0"}},
        {"a frame and noise in one read", {{kRead + QByteArray("\x55\x66", 2), 0}}, {r + " ok - 0", "5566 bad - 0"}},
        {"noise and a frame in one read", {{QByteArray("\x55\x66", 2) + kRead, 0}}, {"5566 bad - 0", r + " ok - 0"}},
        {"whole frames: the silence counts from the request's last character",
         {{kRead, 0}, {kAnswer, 12 * c}},
         {r + " ok - 0", a + " ok 4 0"},
         true},
        {"whole frames: an answer as the request ended", {{kRead, 0}, {kAnswer, 8 * c}}, {r + " ok - 0", a + " ok 0 0"}, true},
        {"whole frames read late, together: the next one's silence is not known",
         {{kRead + kAnswer, 0}, {kRead, 30 * c}},
         {r + " ok - 0", a + " ok - 0", r + " ok - 0"},
         true},
    };
    for (const Case &test : cases) {
        MonitorFramer framer(c, kJudging.silentNs, test.wholeFrames);
        QList<HeardFrame> frames;
        qint64 last = 0;
        for (const auto &chunk : test.chunks) {
            framer.append(chunk.first.constData(), chunk.first.size(), chunk.second, &frames);
            last = chunk.second;
        }
        EXPECT_FALSE(framer.takeAtSilence(last + kJudging.silentNs - 1, &frames)) << test.what;
        ASSERT_TRUE(framer.takeAtSilence(last + kJudging.silentNs, &frames)) << test.what;
        QStringList shown;
        for (const HeardFrame &f : frames) {
            shown.append(QStringLiteral("%1 %2 %3 %4")
                             .arg(QString::fromLatin1(f.bytes.toHex()), QLatin1String(f.crcOk ? "ok" : "bad"),
                                  f.silenceBeforeNs < 0 ? QStringLiteral("-") : QString::number(f.silenceBeforeNs / c))
                             .arg(f.longestGapNs / c));
        }
        EXPECT_EQ(shown.join(QLatin1Char('\n')).toStdString(), test.frames.join(QLatin1Char('\n')).toStdString())
            << test.what;
    }

    // Noise or a wrong baud rate: never more than the longest frame held.
    MonitorFramer framer(c, kJudging.silentNs);
    QList<HeardFrame> frames;
    const QByteArray noise(600, '\x55');
    framer.append(noise.constData(), noise.size(), 0, &frames);
    ASSERT_EQ(frames.size(), 2);
    EXPECT_EQ(frames[0].bytes.size(), MonitorFramer::maxFrame());
    ASSERT_TRUE(framer.takeAtSilence(0, &frames, true));
    EXPECT_EQ(frames.last().bytes.size(), 600 - 2 * MonitorFramer::maxFrame());

    // Frames that piled up while the reader was late, past the bound in one
    // read (noise first): every frame whole, none cut at the bound.
    QByteArray piled("\x55\x66", 2);
    for (int i = 0; i < 40; ++i)
        piled += kRead + kAnswer;
    frames.clear();
    framer.append(piled.constData(), piled.size(), 0, &frames);
    framer.takeAtSilence(0, &frames, true);
    ASSERT_EQ(frames.size(), 81);
    EXPECT_EQ(frames[0].bytes, QByteArray("\x55\x66", 2));
    for (int i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].bytes, i % 2 ? kRead : kAnswer) << i;
}

// Each sequence of frames and the lines the monitor prints for it.
TEST(MonitorPairer, TellsWhatHappenedInTheUsersWords)
{
    ParamFile map;
    QString error;
    ASSERT_TRUE(parseParamText(QStringLiteral("HR5 word speed_limit\nHR6 dword position\n"),
                               QStringLiteral("m.map"), ParamFileKind::Map, &map, &error))
        << qPrintable(error);
    struct Case
    {
        const char *what;
        QList<HeardFrame> frames;
        QStringList lines;
    };
    const QList<Case> cases = {
        {"a read answered",
         {heard(kRead, 0, 8), heard(kAnswer, 20, 29, 12)},
         {"station 1 fn 3 HR1 x2: HR1=7 HR2=9  answer 12.00 ms"}},
        {"an answer as the request ended",
         {heard(kRead, 0, 8), heard(kAnswer, 8, 17, 0)},
         {"station 1 fn 3 HR1 x2: HR1=7 HR2=9  answer 0.00 ms"}},
        // The monitor read the request late, or the line is faster than its baud rate.
        {"an answer timed before its request ended",
         {heard(kRead, 0, 8), heard(kAnswer, 7, 16, 0)},
         {"station 1 fn 3 HR1 x2: HR1=7 HR2=9  answer time unknown"}},
        {"an answer read together with its request",
         {heard(kRead, 0, 8), heard(kAnswer, 20, 29)},
         {"station 1 fn 3 HR1 x2: HR1=7 HR2=9  answer time unknown"}},
        {"an exception, and the master too soon before it",
         {heard(kRead, 0, 8, 2), heard(hexWithCrc("018302"), 20, 25, 12)},
         {"station 1 fn 3 HR1 x2  answer 12.00 ms  silence 2.00 ms  [exception 02 illegal data address]"
          "  [silence 2.00 ms before the request, 4.01 ms needed]"}},
        {"a damaged answer, with a gap inside",
         {heard(kRead, 0, 8), heard(QByteArray::fromHex("01030400070009ffff"), 20, 29, 12, 2000)},
         {"station 1 fn 3 HR1 x2  answer 12.00 ms  [CRC error in the answer: 01 03 04 00 07 00 09 FF FF]"
          "  [gap 2.00 ms inside the answer, 1.72 ms allowed]"}},
        {"no answer, then another station's late one after the next request",
         {heard(kRead, 0, 8), heard(hexWithCrc("020300000002"), 200, 208, 192),
          heard(hexWithCrc("01030400010002"), 220, 229, 12)},
         {"station 1 fn 3 HR1 x2  [no answer]",
          "station 1 fn 3 HR1 x2: HR1=1 HR2=2  answer 212.00 ms  [late answer, after the next request began]",
          "station 2 fn 3 HR1 x2  silence 192.00 ms  [no answer]"}},
        {"an answer from a station not asked, and noise",
         {heard(kRead, 0, 8), heard(hexWithCrc("03030400010002"), 20, 29), heard(QByteArray::fromHex("55aa"), 40, 41)},
         {"station 3 fn 3: an answer no request asked for: 03 03 04 00 01 00 02 09 F2"
          " [answer from station 3, station 1 was asked]",
          "noise: 2 bytes: 55 AA", "station 1 fn 3 HR1 x2  [no answer]"}},
        {"more registers than Modbus allows: a register answer is not this one's, an exception is",
         {heard(hexWithCrc("010300000082"), 0, 8), heard(hexWithCrc("01030400070008"), 20, 29, 12),
          heard(hexWithCrc("010307D00001"), 50, 58, 21), heard(hexWithCrc("018303"), 70, 75, 12)},
         {"station 1 fn 3: an answer no request asked for: 01 03 04 00 07 00 08 4A 34",
          "station 1 fn 3 HR1 x130  [130 registers, Modbus allows 1 to 125]  [no answer]",
          "station 1 fn 3 HR2001 x1  answer 12.00 ms  silence 21.00 ms  [exception 03 illegal data value]"}},
        {"an unknown function, shown raw",
         {heard(hexWithCrc("01080000abcd"), 0, 8), heard(hexWithCrc("01080000abcd"), 20, 28, 12)},
         {"station 1 fn 8 01 08 00 00 AB CD 5E AE -> 01 08 00 00 AB CD 5E AE  answer 12.00 ms"}},
        {"a write of the map's parameters, and a broadcast",
         {heard(hexWithCrc("0110000400030600640002000100"), 0, 15), heard(hexWithCrc("011000040003"), 27, 35, 12),
          heard(hexWithCrc("000600040001"), 50, 58, 15)},
         {"station 1 fn 16 HR5 x3 written: speed_limit=100 position=65538  answer 12.00 ms",
          "station 0 fn 6 HR5 x1 written: speed_limit=1  silence 15.00 ms  [broadcast]"}},
    };
    for (const Case &test : cases) {
        QStringList lines;
        for (const Transaction &t : paired(test.frames))
            lines.append(describeTransaction(t, kJudging, &map, ValueFormat::Decimal));
        EXPECT_EQ(lines.join(QLatin1Char('\n')).toStdString(), test.lines.join(QLatin1Char('\n')).toStdString())
            << test.what;
    }
}

TEST(MonitorStats, CountsPerStationAndForTheMaster)
{
    const QString header = QStringLiteral("station  requests  answered  no answer  exceptions  CRC errors  late  min ms  median ms  p99 ms  max ms");
    const QList<QPair<QList<HeardFrame>, QStringList>> cases = {
        {{heard(kRead, 0, 8), heard(kAnswer, 20, 29, 12), heard(kRead, 40, 48, 11),
          heard(hexWithCrc("01830A"), 60, 65, 12), heard(kRead, 67, 75, 2),
          heard(QByteArray::fromHex("0103"), 90, 91), heard(kRead, 300, 308, 209)},
         {header, "      1         4         3          1        0Ax1           1     0    12.0       12.0    12.0    12.0",
          "noise: 0 bursts, 0 bytes",
          "master: shortest silence before a request 2.00 ms (4.01 ms needed), 1 requests too soon (33.3 % of 3 heard "
          "after a frame)"}},
        // Three of four answers timed before their requests ended: a wrong baud rate.
        {{heard(kRead, 0, 8), heard(kAnswer, 5, 14, 0), heard(kRead, 30, 38, 16), heard(kAnswer, 37, 46, 0),
          heard(kRead, 60, 68, 14), heard(kAnswer, 67, 76, 0), heard(kRead, 90, 98, 14), heard(kAnswer, 110, 119, 12)},
         {header, "      1         4         4          0           0           0     0    12.0       12.0    12.0    12.0",
          "answer times unknown: 3 of 4 answers, left out of min, median, p99 and max (3 timed before their request "
          "ended); the bytes come faster than the baud rate given allows (--line auto finds the line's)",
          "noise: 0 bursts, 0 bytes",
          "master: shortest silence before a request 14.00 ms (4.01 ms needed), 0 requests too soon"}},
    };
    for (const auto &test : cases) {
        MonitorStats stats(kJudging);
        const QList<Transaction> done = paired(test.first);
        for (const Transaction &t : qAsConst(done))
            stats.add(t);
        EXPECT_EQ(stats.table().join(QLatin1Char('\n')).toStdString(), test.second.join(QLatin1Char('\n')).toStdString());
        // JSON says so too.
        const bool crossed = test.second.size() > 4;
        EXPECT_EQ(jsonTransaction(0, done.first(), {}, nullptr, ValueFormat::Decimal)
                      .contains("\"response_ms\":null,\"silence_ms\":null,\"flags\":[\"answer_time_unknown\"],"
                                "\"request\":\"010300000002C40B\""),
                  crossed);
    }
}

// Over 16 s a frame's bar keeps three thousandths of the span (a few
// pixels, not the 10 ms of its 9 bytes), a damaged answer comes first and the key still gives each kind
// its own colour, an exception shows its code, and the axis says when the
// listening began.
TEST(MonitorTimeline, KeepsItsKeyBarsAndCodesOverALongListening)
{
    MonitorTimeline timeline(kJudging);
    QByteArray damaged = hexWithCrc("01030400070009");
    damaged[4] = '\x08';
    for (const Transaction &t :
         paired({heard(kRead, 0, 8), heard(damaged, 20, 29, 12), heard(kRead, 8000, 8008),
                 heard(hexWithCrc("018306"), 8020, 8025, 12), heard(kRead, 15960, 15968),
                 heard(kAnswer, 15980, 15989, 12)}))
        timeline.add(t);
    // from, to, station, the wait's start, the mark (2 a CRC error, 3 an exception)
    EXPECT_EQ(timeline.answers().toStdString(),
              "0.020000 0.067971 1 0.009167 2\n"
              "8.020000 8.067971 1 8.009167 3\n"
              "15.980000 16.027971 1 15.969167 0\n");
    EXPECT_EQ(timeline.marks().toStdString(), "0.020000 1 2 -\n8.020000 1 3 06\n");
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "XST-5:30"); // 5 h 30 min east of UTC, without time zone data
    tzset();
    const qint64 at = QDateTime(QDate(2026, 12, 6), QTime(0, 40, 1, 123), Qt::UTC).toMSecsSinceEpoch() * kMs;
    const QString script = QString::fromUtf8(timeline.script(QStringLiteral("line"), at));
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    tzset();
    for (const char *part :
         {"set xlabel 'time (s) from 2026-12-06 06:10:01.123 +05:30'", "with boxxyerror lc rgb '#2e9e3e' title 'answer'",
          "with boxxyerror lc rgb '#e07000' title 'answer with a CRC error'",
          "'marks.dat' using 1:($3==3 ? $2-0.2 : NaN):4 with labels"})
        EXPECT_TRUE(script.contains(QLatin1String(part))) << part << "\n" << qPrintable(script);
}

TEST(PcapWriter, WritesUser0PacketsOfBareFrames)
{
    EXPECT_EQ(PcapWriter::header().toHex(), QByteArray("d4c3b2a1020004000000000000000000ffff000093000000"));
    EXPECT_EQ(PcapWriter::packet(QByteArray::fromHex("0103"), 1700000000123456LL).toHex(),
              QByteArray("00f1536540e201000200000002000000"
                         "0103"));
}

// A disk filling up takes part of a write and then refuses the rest: the
// writers say why, not "Unknown error". The file size limit does it for real.
template <typename Write>
bool underFileSizeLimit(rlim_t bytes, Write write)
{
    rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = bytes;
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = write();
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, previous);
    return written;
}

TEST(PcapWriterAndCsvLog, SayWhyTheirDiskRefusedAWrite)
{
    QTemporaryDir dir;
    const QString pcapPath = dir.filePath(QStringLiteral("capture.pcap"));
    const QString csvPath = dir.filePath(QStringLiteral("log.csv"));
    PcapWriter pcap;
    CsvLog csv;
    QString error;
    ASSERT_TRUE(pcap.open(pcapPath, &error)) << qPrintable(error);
    ASSERT_TRUE(csv.open(csvPath, QStringLiteral("sim"), &error)) << qPrintable(error);
    for (int station = 1; station <= 3; ++station)
        EXPECT_TRUE(csv.append(0, station, QStringLiteral("HR1"), QStringLiteral("0x0001"), QStringLiteral("1")));
    EXPECT_FALSE(underFileSizeLimit(64, [&] { return pcap.append(QByteArray(100, '\x01'), 0); }));
    EXPECT_EQ(pcap.errorString(), QStringLiteral("cannot write %1: File too large").arg(pcapPath));
    EXPECT_FALSE(underFileSizeLimit(100, [&] { return csv.flush(); })); // the header and a row and a half
    EXPECT_EQ(csv.errorString(), QStringLiteral("cannot write %1: File too large").arg(csvPath));
    EXPECT_EQ(QFileInfo(csvPath).size(), 100) << "the short write came first";
}

} // namespace
