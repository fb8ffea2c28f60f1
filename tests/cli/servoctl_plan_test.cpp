// servoctl's plan in process: what each command line is refused with, and
// the tables --help and the driver's texts are read from; a poll's status.
#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "commands.h"
#include "failuretexts.h"
#include "help.h"
#include "hints.h"
#include "pollstatus.h"
#include "teco_servo_texts.h"

namespace {

// Why parsePlan refused a command line; empty when it took it.
QString refusal(const QStringList &args, Plan *plan = nullptr)
{
    Plan own;
    QString error;
    if (parsePlan(args, plan ? plan : &own, &error))
        return QString();
    return error.isEmpty() ? QStringLiteral("(refused without a word)") : error;
}

// Each with the word the message must name. The driver would take most of
// them (it wraps numbers and reads unknown areas as input registers), so
// servoctl must refuse them before the line even opens. The refusals
// docs/servoctl.md shows (-0 read HR65536, read 100, read HR1 word 126) are
// run as they are written there, by tests/docs.
TEST(ServoctlPlan, RefusesMalformedInputNamingTheWord)
{
    const struct
    {
        QStringList args;
        const char *named;
    } cases[] = {
        {{"write", "HR65537", "word", "1"}, "HR65537"},
        {{"write", "HR0", "word", "1"}, "HR0"},
        {{"write", "HR", "word", "1"}, "write HR:"},
        {{"write", "HR-1", "word", "1"}, "HR-1"},
        {{"write", "HRX1", "word", "1"}, "HRX1"},
        {{"write", QStringLiteral("HR\u00E91"), "word", "1"}, "HR\u00E91"},
        {{"write", "HR1.256", "bit", "1"}, "HR1.256"},
        {{"write", "HR1.20", "bit", "1"}, "write HR2.4 instead"},
        {{"write", "HR1", "byte", "0x56"}, "write 0 into HR1 high"},
        {{"write", "HR1", "word", "5", "then", "frobnicate"}, "frobnicate"},
        {{"write", "HR1", "word", "70000"}, "70000"},
        {{"write", "HR1", "word", "5\r"}, "\"5\\r\""},
        {{"write", "HR1", "word", " 5"}, "\" 5\""},
        {{"write", "HR1", "word", "+5"}, "\"+5\""},
        {{"write", "HR1", "word", "0x0x5"}, "\"0x0x5\""},
        {{"read", "HR1", "qword"}, "qword"},
        {{"read", "HR1", "qword", "float"}, "qword: the driver serves no 64-bit items"},
        {{"read", "HR1", "word", "float"}, "float goes only with dword, not word"},
        {{"-f", "int32", "read", "HR1", "word"}, "int32 goes only with dword, not word"},
        {{"read", "HR1", "dword", "int16"}, "a second data type, count or format: int16"},
        {{"read", "0x0001"}, "0x0001 could be hexadecimal or a coil: write DO1"},
        {{"read", "20001"}, "read 20001: reference numbers begin 0 (coils, DO), 1 (inputs, DI), 3"},
        {{"read", "40000"}, "read 40000: the number after the table's digit runs from 1 to 65536 (40001 is HR1)"},
        {{"read", "4x70000"}, "(40001 is HR1)"},
        {{"read", "4000001"}, "read 4000001: an address names its area"},
        {{"read", "HR1", "--polls", "3"}, "--polls goes only with poll"},
        {{"--interval", "5", "read", "HR1"}, "--interval goes only with poll"},
        {{"-0", "scan"}, "-0 (--zero-based) goes only with read, write or poll"},
        {{"--all-settings", "read", "HR1"}, "--all-settings goes only with scan"},
        {{"-b", "19201", "read", "HR1"}, "-b: unsupported baud rate: 19201"},
        {{"-P", "mark", "read", "HR1"}, "-P: unknown parity mark (none, even or odd)"},
        {{"--stop-bits", "3", "read", "HR1"}, "--stop-bits: a character has 1 or 2 stop bits, not 3"},
        {{"poll", "DI1", "bit", "--format", "float", "--polls", "1"}, "float goes only with dword, not bit"},
        {{"read", "HR1", "dword", "-f", "double"}, "unknown format double"},
        {{"write", "HR1", "float", "nan"}, "invalid value for a float: \"nan\""},
        {{"write", "HR1", "float", "1e40"}, "\"1e40\""},
        {{"write", "HR1", "float", "+1.5"}, "\"+1.5\""},
        {{"write", "HR1", "float", "0x10"}, "\"0x10\""},
        {{"write", "HR1", "int32", "2147483648"}, "invalid value for an int32: \"2147483648\""},
        {{"write", "HR1", "int32", "-2147483649"}, "\"-2147483649\""},
        {{"write", "HR1", "int16", "-32769"}, "invalid value for an int16: \"-32769\""},
        {{"write", "DO1", "float", "1"}, "dword goes only with"},
        {{"read", "DO1", "int32"}, "read DO1: int32 goes only with dword, not bit"},
        {{"write", "HR1", "double", "1"}, "unknown data type: double"},
        {{"-0", "read", "HR-1"}, "read HR-1: numbers run from 0 to 65535 with -0 (counted from 0)"},
        {{"-0", "read", "XY1"}, "unknown area \"XY\""},
        {{"read", "HR0x0"}, "read HR0x0: numbers run from 0x1 to 0x10000"},
        {{"--zero-based", "read", "HR0x10000"}, "HR0x10000: numbers run from 0x0 to 0xFFFF with -0"},
        {{"read", "HR0x"}, "read HR0x:"},
        {{"read", "HR0x1G"}, "HR0x1G"},
        {{"-0", "-0", "read", "HR1"}, "-0 (--zero-based) given twice"},
        {{"--format", "json", "write", "HR1", "word", "1"}, "--format json"},
        {{"--format", "json", "--csv", "-", "read", "HR1"},
         "standard output takes one of --csv -, --csv-wide -, --pcap - and --format json, not --csv - and --format json"},
        {{"--csv-wide", "-", "read", "HR1", "then", "read", "HR2"}, "not 2"},
        {{"read", "DO1", "word"}, "DO1"},
        {{"read", "HR1", "word", "hex", "word"}, "word"},
        {{"write", "DI5", "bit", "1"}, "DI5"},
        {{"read", "HR100.3", "word"}, "HR100.3"},
        {{"read", "HR100SW", "word"}, "HR100SW"},
        {{"read", "DI1", "bit", "2009"}, "2008 bits"},
        {{"write", "HR65536", "word", "1", "2"}, "HR65536"},
        {{"read", "HR60005", "word", "10"}, "HR60010"},
        {{"read", "HR59999", "word", "2"}, "served to word commands that start there"},
        {{"read", "HR60000", "dword"}, "served to word commands that start there"},
        {{"write", "HR60001", "word", "2", "0"}, "HR60002 = 0"},
        {{"write", "FN6HR60008", "word", "248"}, "FN6HR60008 = 248"},
        {{"write", "HR60000", "word", "9"}, "HR60000 = 9"},
        {{"write", "HR60009", "word", "9"}, "HR60009 = 9: the read-back station runs from 1 to 8 (the driver holds it"},
        {{"write", "HR60009", "word", "1", "5"}, "must write HR60010 alone"},
        {{"write", "HR60001", "word", "2", "then", "write", "HR60000", "word", "2", "then", "write", "HR60010", "word", "5"},
         "HR60002 holds none yet"},
        {{"write", "HR60000", "word", "1", "then", "read", "HR60000", "word", "11"},
         "set the read-back station HR60009 (1 to 8) first"},
        {{"write", "HR60000.1", "bit", "1"}, "write whole words there"},
        {{"write", "HR60010.1", "bit", "1", "0"}, "one bit at a time"},
        {{"write", "HR60000", "word", "1", "then", "write", "HR60010.1", "bit", "1"}, "HR60001 holds none yet"},
        {{"--station", "0", "read", "HR1"}, "station 0"},
        {{"--station", "0", "write", "FN6HR1", "word", "1", "2"}, "FN6HR1"},
        {{"--station", "0", "write", "FN5DO1", "bit", "1", "0"}, "FN5DO1"},
        {{"station", "0", "then", "write", "HR1.3", "bit", "1"}, "HR1.3"},
        {{"--station", "248", "read", "HR1"}, "248"},
        {{"--timeout", "0", "read", "HR1"}, "--timeout"},
        {{"-d", "", "read", "HR1"}, "-d"},
        {{"--plugin=", "info"}, "--plugin"},
        {{"--device", "/dev/null", "read", "HR1"}, "--sim applies only to the built-in simulated line, not with --device"},
        {{"--local-echo=yes", "read", "HR1"}, "--local-echo takes no value"},
        {{"--no-lock", "read", "HR1"}, "--no-lock goes only with a -d tcp:// line"},
        {{"--sim-model", "Servo", "read", "HR1"}, "--sim-model: unknown model: Servo"},
        {{"--sim-seed", "-1", "read", "HR1"}, "--sim-seed: -1: a seed is a whole number from 0 to 18446744073709551615"},
        {{"--sim-stations", "0-2", "read", "HR1"}, "--sim-stations: 0-2: stations are numbers from 1 to 247"},
        {{"--sim-faults", "drop=0.1,", "read", "HR1"}, "--sim-faults: empty fault in drop=0.1,"},
        {{"--line", "RS485,9600", "read", "HR1"}, "RS485,9600"},
        {{"--line", "RS485,9600,NONE,7,2", "read", "HR1"}, "RS485,9600,NONE,7,2: Modbus RTU"},
        {{"--station", "2", "--station", "1", "read", "HR1"}, "--station given twice"},
        {{"-d", "/dev/a", "read", "HR1", "-d", "/dev/b"}, "-d (--device) given twice"},
        {{"read", "HR1", "-f"}, "-f needs a value"},
        {{"then", "read", "HR1"}, "\"then\" joins"},
        {{"poll", "HR1", "then", "read", "HR2"}, "poll HR1: without --polls"},
        {{}, "no command"},
        {{"scan", "0-3"}, "station 0 is the broadcast address"},
        {{"scan", "248"}, "scan: 248:"},
        {{"scan", "baud", "12345"}, "baud 12345"},
        {{"scan", "parity", "mark"}, "parity mark"},
        {{"scan", "stop", "3"}, "stop 3"},
        {{"scan", "baud", "9600,9600"}, "baud 9600: listed twice"},
        {{"scan", "1-3,2"}, "station 2 is listed twice"},
        {{"scan", "stop", "1", "stop", "2"}, "stop given twice"},
        {{"scan", "baud"}, "baud needs a list"},
        {{"--station", "1,2", "read", "HR1"}, "read addresses one station"},
        {{"--station", "5", "scan"}, "not --station's"},
        {{"--station", "1, 2", "poll", "HR1"}, " 2: stations are numbers"},
        {{"poll", "HR1", "-o", "new.csv"}, "-o goes only with backup or plot"},
        {{"write", "HR1", "word", "1", "--csv", "new.csv"}, "--csv logs the values read"},
        {{"plot", "a.csv", "then", "plot", "b.csv", "-o", "new.png"}, "-o names one file"},
        {{"--dry-run", "read", "HR1"}, "--dry-run goes only with restore, not with read HR1"},
        {{"--map", "M", "backup"}, "backup needs -o FILE"},
        {{"--map", "M", "read", "HR1"}, "--map goes only with backup"},
        {{"restore"}, "restore needs a backup file"},
        {{"--yes", "read", "HR1"}, "--yes goes only with restore"},
    };
    for (const auto &c : cases) {
        const QString error = refusal(QStringList{"--sim", "--trace"} + c.args);
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.named))) << c.named << " in " << qPrintable(error);
        EXPECT_FALSE(error.contains(QLatin1Char('\n')) || error.contains(QLatin1Char('\r'))) << qPrintable(error);
    }
    // After the command "-0" is a value, as "-5" is.
    Plan plan;
    EXPECT_EQ(refusal({"--sim", "write", "HR1", "word", "-0"}, &plan), QString());
    EXPECT_FALSE(plan.options.zeroBased);
}

// What a field engineer types from habit or a drive's manual, and what
// servoctl makes of it.
TEST(ServoctlPlan, TakesReferenceNumbersAndFormatsThatImplyTheirType)
{
    const struct
    {
        QStringList args;
        const char *address; // as the driver gets it
        const char *type;
        ValueFormat format;
    } cases[] = {
        {{"read", "HR22", "float"}, "HR22", "dword", ValueFormat::Float},
        {{"-f", "int32", "read", "HR22", "2"}, "HR22", "dword", ValueFormat::Int32},
        {{"read", "HR22", "int16"}, "HR22", "word", ValueFormat::Signed},
        {{"read", "40001"}, "HR1", "word", ValueFormat::Decimal},
        {{"read", "465536"}, "HR65536", "word", ValueFormat::Decimal},
        {{"-0", "read", "4x0010.3", "bit"}, "HR10.3", "bit", ValueFormat::Decimal}, // -0 leaves references alone
        {{"read", "30002", "float"}, "IR2", "dword", ValueFormat::Float},
        {{"read", "10001"}, "DI1", "bit", ValueFormat::Decimal},
        {{"read", "00017"}, "DO17", "bit", ValueFormat::Decimal},
    };
    for (const auto &c : cases) {
        Plan plan;
        ASSERT_EQ(refusal(QStringList{"--sim"} + c.args, &plan), QString()) << qPrintable(c.args.join(' '));
        const Step &step = plan.steps.first();
        EXPECT_EQ(step.address.text, QLatin1String(c.address)) << qPrintable(c.args.join(' '));
        EXPECT_STREQ(step.type->name, c.type) << qPrintable(c.args.join(' '));
        EXPECT_EQ(step.format, c.format) << qPrintable(c.args.join(' '));
    }
    // -b, -P and -s change their field of --line's settings, or of the base.
    Plan plan;
    ASSERT_EQ(refusal({"--sim", "--line", "RS485,9600,NONE,8,2", "-b", "19200", "-P", "even", "--stop-bits=1", "read", "HR1"},
                      &plan),
              QString());
    EXPECT_EQ(plan.options.lineSettings(LineSettings()).toString(), QLatin1String("RS485,19200,EVEN,8,1"));
    ASSERT_EQ(refusal({"--sim", "-P", "odd", "read", "HR1"}, &plan), QString());
    LineSettings base;
    base.baudRate = 38400;
    EXPECT_EQ(plan.options.lineSettings(base).toString(), QLatin1String("RS485,38400,ODD,8,2"));
}

// A forgotten -d must not become the simulated drives: every command that
// uses a line needs -d or --sim (or a --sim-... option). A read without:
// docs/servoctl.md's example.
TEST(ServoctlPlan, ALineIsAskedForNeverAssumed)
{
    EXPECT_EQ(refusal({"--station", "1", "backup", "--map", "M", "-o", "b.txt"}),
              QLatin1String("no line given: -d DEVICE for a serial line, or --sim for the built-in simulated line"));
    Plan plan;
    ASSERT_EQ(refusal({"--sim-stations", "4", "--station", "4", "read", "IR1"}, &plan), QString());
    EXPECT_TRUE(plan.options.sim);
    EXPECT_EQ(plan.options.simStations, QList<int>{4});
}

// --help is made from the tables: each command's lines, laid out in two
// columns, and the range each option takes, which is what the parser takes.
TEST(ServoctlPlan, HelpShowsEveryCommandAndTheRangesTheOptionsTake)
{
    const QString help = helpText();
    EXPECT_FALSE(help.contains(QLatin1Char('{'))) << "a field left unfilled";
    EXPECT_TRUE(help.contains(QLatin1String("\n  write ADDRESS TYPE VALUE...  write the values, one item each\n")));
    EXPECT_TRUE(help.contains(QLatin1String("\n  read ADDRESS [TYPE] [COUNT] [FORMAT]\n                               read COUNT")));
    for (const char *said : {"PNG of 1200x700 pixels", "time,station,address,raw,value", "TYPE [NAME [UNIT]] [# comment]"})
        EXPECT_TRUE(help.contains(QLatin1String(said))) << said;
    QSet<int> actions;
    for (const CommandEntry &entry : commandTable()) {
        EXPECT_TRUE(help.contains(QStringLiteral("\n  %1 ").arg(QLatin1String(entry.usage)))
                    || help.contains(QStringLiteral("\n  %1\n").arg(QLatin1String(entry.usage))))
            << entry.name;
        EXPECT_EQ(commandByName(QLatin1String(entry.name)), &entry);
        if (entry.action != Step::Other) {
            EXPECT_FALSE(actions.contains(entry.action)) << entry.name;
        }
        actions.insert(entry.action);
    }
    actions.remove(Step::Other);
    EXPECT_EQ(actions.size(), int(Step::Other)) << "an action the rules name without its entry";

    for (const QString &name : numberOptionNames()) {
        const QString line = QRegularExpression(QStringLiteral("\n +--%1 [A-Z]+ [^\n]*").arg(name)).match(help).captured();
        const QString range = optionRange(name);
        if (name != QLatin1String("polls")) { // up to INT_MAX: "N"
            EXPECT_TRUE(line.contains(QStringLiteral(", ") + range))
                << qPrintable(line) << " without " << qPrintable(range);
        }
        const QStringList bounds = range.split(QStringLiteral(" to "));
        const qint64 low = bounds[0].toLongLong(), high = bounds[1].toLongLong();
        // --count and --duration go only with monitor, which listens to a
        // device; --polls and --interval only with poll.
        const bool monitors = name == QLatin1String("count") || name == QLatin1String("duration");
        const bool polls = name == QLatin1String("polls") || name == QLatin1String("interval");
        const QStringList command = monitors ? QStringList{"-d", "/dev/ttyUSB1", "monitor"}
                                             : QStringList{"--sim", polls ? "poll" : "read", "HR1"};
        for (const qint64 value : {low - 1, low, high, high + 1}) {
            const bool within = value >= low && value <= high;
            const QString error = refusal(QStringList{"--" + name, QString::number(value)} + command);
            EXPECT_EQ(error.isEmpty(), within) << qPrintable(name) << " " << value << ": " << qPrintable(error);
            EXPECT_EQ(error.contains(QStringLiteral("is not a number from ") + range), !within) << qPrintable(error);
        }
    }
}

// The driver's texts as it writes them, with what it appends, and the
// hint a failure gets on either kind of line.
TEST(ServoctlPlan, RecognisesTheDriversTextsFromItsCatalogue)
{
    using namespace TecoServoText;
    const QString described = QStringLiteral(" (read 1 word(s) from 1-HR1)");
    const struct
    {
        QString text;
        int exception; // -1: none
        bool garbled;
    } cases[] = {
        {QString::asprintf(Exception, 0x02) + described, 0x02, false},
        {QString::asprintf(Exception, 0xAB), 0xAB, false},
        {formatPrefix(Exception), -1, false},
        {QLatin1String(NoResponse) + described, -1, false},
        {QLatin1String(CrcError) + described, -1, true},
        {QString::asprintf(ShortAnswer, 5) + described, -1, true},
        {QString::asprintf(OtherStation, 3), -1, true},
        {QLatin1String(PacketLoss), -1, true},
        {QLatin1String(InvalidResponse), -1, true},
        {QLatin1String(UnsupportedType) + QLatin1String("qword"), -1, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(driverExceptionCode(c.text), c.exception) << qPrintable(c.text);
        EXPECT_EQ(isGarbledAnswerText(c.text), c.garbled) << qPrintable(c.text);
    }
    // No answer over Modbus TCP: what lies behind the gateway, not the wiring.
    const QString silent = QLatin1String(NoResponse) + described;
    EXPECT_TRUE(hintFor(silent, false).startsWith(QLatin1String("no answer: wrong station, baud rate or wiring")));
    EXPECT_TRUE(hintFor(silent, true).startsWith(QLatin1String("no answer through the gateway: a wrong unit id")));
    EXPECT_EQ(hintFor(QLatin1String(CrcError), true), hintFor(QLatin1String(CrcError), false));
}

// The command line is checked whole: one line naming what is wrong. monitor
// and --line auto on --sim: docs/servoctl.md's examples, run by tests/docs.
TEST(MonitorPlan, RefusesWhatCannotListen)
{
    const QList<QPair<QStringList, QString>> cases = {
        {{"monitor"}, "no line given: -d DEVICE for a serial line, or --sim for the built-in simulated line"},
        {{"-d", "/dev/null", "monitor", "HR1"}, "monitor takes no arguments: HR1"},
        {{"-d", "/dev/null", "--station", "2", "monitor"},
         "monitor hears every station: --station goes with the commands that ask"},
        {{"-d", "/dev/null", "monitor", "then", "info"}, "monitor runs alone, not joined with \"then\""},
        {{"-d", "/dev/null", "--pcap", "x.pcap", "read", "HR1"}, "--pcap goes only with monitor"},
        {{"-d", "/dev/null", "--pcap", "/dev/stdout", "--csv", "-", "monitor"},
         "standard output takes one of --csv -, "
         "--csv-wide -, --pcap - and --format json, not --csv - and --pcap -"},
        {{"-d", "/dev/null", "--pcap", "/etc/passwd", "monitor"},
         "--pcap: /etc/passwd exists: servoctl never replaces a file"},
        {{"-d", "/dev/null", "--duration", "5", "info"}, "--duration goes only with monitor"},
        {{"-d", "/dev/null", "--timeline", "t.png", "read", "HR1"}, "--timeline goes only with monitor"},
        {{"-d", "/dev/null", "--timeline", "t.png", "monitor"},
         "--timeline needs --count or --duration: the picture is drawn when the listening ends"},
        {{"-d", "/dev/null", "--timeline", "/etc/passwd", "--count", "5", "monitor"}, "--timeline: "},
        {{"-d", "/dev/null", "--format", "json", "info"},
         "--format json writes what read, poll, scan or monitor find: it goes with one of them"},
        {{"-d", "/dev/null", "--map", "/nonexistent.map", "monitor"}, "/nonexistent.map: "},
        {{"-d", "/dev/null", "--line", "auto", "read", "HR1"}, "--line auto goes only with monitor or scan"},
        {{"-d", "/dev/null", "--line", "auto", "scan", "then", "read", "HR1"}, "--line auto goes only with monitor or scan"},
        {{"-d", "tcp://127.0.0.1:1", "--line", "auto", "scan"},
         "--line auto listens to a serial line: over TCP the converter's own settings apply"},
        {{"-d", "/dev/null", "--line", "autox", "monitor"}, "--line: invalid line settings: \"autox\""},
    };
    for (const auto &test : cases)
        EXPECT_TRUE(refusal(test.first).startsWith(test.second)) << qPrintable(refusal(test.first));
    const QString error = refusal({"-d", "/dev/ttyUSB1", "--map", "docs/servo-parameters.map", "--csv",
                                   "/tmp/x.csv", "--count", "5", "monitor"});
    EXPECT_TRUE(error.isEmpty() || error.contains(QLatin1String("servo-parameters.map"))) << qPrintable(error);

    // A fifo takes a capture; a link to one in /tmp, which anyone may have
    // put there, is not followed.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("line.fifo"));
    const QString planted = QStringLiteral("/tmp/servoctl-monitor-test-%1").arg(getpid());
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_EQ(symlink(QFile::encodeName(fifo).constData(), QFile::encodeName(planted).constData()), 0);
    EXPECT_EQ(refusal({"-d", "/dev/null", "--pcap", fifo, "monitor"}), QString());
    EXPECT_EQ(refusal({"-d", "/dev/null", "--pcap", planted, "monitor"}),
              QStringLiteral("--pcap: %1 exists: servoctl never replaces a file; give a new name").arg(planted));
    unlink(QFile::encodeName(planted).constData());
}

// Why a poll is slow, as the user reads it while it happens.
TEST(PollStatus, SaysWhyACycleTookLongerThanAsked)
{
    const qint64 ms = 1000000;
    const struct
    {
        qint64 cycleNs;
        int intervalMs;
        PollTrouble trouble;
        const char *since;
        const char *status;
    } cases[] = {
        {20 * ms, 20, {}, "", ""},
        {30 * ms, 20, {}, "", ""}, // within the slack scheduling takes
        {31 * ms, 20, {}, "", "cycle 31 ms (every 20 ms asked)"},
        {1100 * ms, 1000, {}, "", ""}, // a tenth over the interval, no more
        {1101 * ms, 1000, {}, "", "cycle 1101 ms (every 1000 ms asked)"},
        {3500 * ms, 0, {3, 4, 0}, "", "cycle 3500 ms (every 0 ms asked): 3 retries, 4 time-outs"},
        {5 * ms, 20, {1, 0, 1}, "", "cycle 5 ms: 1 retry, 1 CRC error"},
        {405 * ms, 20, {2, 1, 2}, "poll 4", "cycle 405 ms (every 20 ms asked); since poll 4: 2 retries, 1 time-out, 2 CRC errors"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(pollStatus(c.cycleNs, c.intervalMs, c.trouble, QLatin1String(c.since)), QLatin1String(c.status))
            << c.status;
    }
}

} // namespace
