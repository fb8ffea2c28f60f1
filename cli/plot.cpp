#include "plot.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPair>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "csvlog.h"
#include "interrupt.h"
#include "newfile.h"
#include "plan.h"
#include "systemerror.h"
#include "termiosline.h"

namespace {

// A longer log reads better in minutes.
const qint64 kSecondsUpToMs = 10 * 60 * 1000;
// Up to this many rows a line also marks each row; more would blur it.
const int kMarkedRowsUpTo = 60;

// gnuplot works in its own folder under these fixed names, so nothing the
// user named (quotes, blanks) ever stands in its script as a path.
const char kScriptName[] = "plot.gp";
const char kImageName[] = "plot.png";
const char kErrorsName[] = "gnuplot.err";

// The rows of one station and address, in the order logged.
struct Series
{
    int station = 0;
    QString address;
    QList<CsvLogRow> rows;
    bool numericValues = true; // else the raw bits are drawn
};

// What the image shows.
struct Chart
{
    QString title;
    QString xLabel;
    qint64 startMs = 0;     // x = 0
    double msPerUnit = 1000; // of the x axis
    QList<Series> series;
};

bool isNumber(const QString &text)
{
    bool ok = false;
    text.toDouble(&ok);
    return ok;
}

QList<Series> groupSeries(const QList<CsvLogRow> &rows)
{
    QList<Series> series;
    QHash<QPair<int, QString>, int> indexOf;
    for (const CsvLogRow &row : rows) {
        const QPair<int, QString> key(row.station, row.address);
        if (!indexOf.contains(key)) {
            indexOf.insert(key, series.size());
            series.append(Series{row.station, row.address, {}, true});
        }
        Series &one = series[indexOf.value(key)];
        one.rows.append(row);
        one.numericValues = one.numericValues && isNumber(row.value);
    }
    return series;
}

double yOf(const Series &series, const CsvLogRow &row)
{
    return series.numericValues ? row.value.toDouble() : double(row.raw);
}

// gnuplot fails on a chart of undefined points alone (a float view's nan).
bool hasFiniteValue(const QList<Series> &series)
{
    for (const Series &one : series) {
        for (const CsvLogRow &row : one.rows) {
            if (std::isfinite(yOf(one, row)))
                return true;
        }
    }
    return false;
}

// x y lines for gnuplot; y NaN where a float view showed no number.
QByteArray seriesData(const Series &series, const Chart &chart)
{
    QByteArray data;
    for (const CsvLogRow &row : series.rows) {
        const double y = yOf(series, row);
        data += QByteArray::number(double(row.epochMs - chart.startMs) / chart.msPerUnit, 'f', 4) + ' '
                + (std::isfinite(y) ? QByteArray::number(y, 'g', 17) : QByteArray("NaN")) + '\n';
    }
    return data;
}

// A gnuplot string: single quotes take everything literally but a doubled
// quote; a line break would end the command.
QString quoted(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

QString legendEntry(const Series &series, bool oneStation)
{
    QString entry = oneStation ? series.address
                               : QStringLiteral("station %1 %2").arg(series.station).arg(series.address);
    return series.numericValues ? entry : entry + QStringLiteral(" (raw)");
}

QString plotClause(const Series &series, int index, bool oneStation)
{
    const char *style = series.rows.size() <= kMarkedRowsUpTo ? "linespoints pointtype 7 pointsize 0.7"
                                                              : "lines";
    return QStringLiteral("'%1.dat' using 1:2 with %2 linewidth 2 title %3")
        .arg(index).arg(QLatin1String(style), quoted(legendEntry(series, oneStation)));
}

QByteArray plotScript(const Chart &chart)
{
    const QList<Series> &series = chart.series;
    bool oneStation = true;
    for (const Series &one : series)
        oneStation = oneStation && one.station == series[0].station;
    QStringList clauses;
    for (int i = 0; i < series.size(); ++i)
        clauses.append(plotClause(series[i], i, oneStation));
    const QString size = QStringLiteral("size %1,%2 noenhanced").arg(kPlotWidth).arg(kPlotHeight);
    const QStringList lines = {
        QStringLiteral("set encoding utf8"),
        QStringLiteral("if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) { set terminal pngcairo %1 font 'sans,11' } "
                       "else { set terminal png %1 }").arg(size),
        QStringLiteral("set output '%1'").arg(QLatin1String(kImageName)),
        QStringLiteral("set title %1").arg(quoted(chart.title)),
        QStringLiteral("set xlabel %1").arg(quoted(chart.xLabel)),
        QStringLiteral("set grid"),
        QStringLiteral("set key outside right top"),
        QStringLiteral("plot ") + clauses.join(QStringLiteral(", \\\n     ")),
    };
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}

// What gnuplot said of its failure: its own error line naming the script,
// else the first line it wrote.
QString gnuplotError(const QDir &dir, int status)
{
    QFile file(dir.filePath(QLatin1String(kErrorsName)));
    file.open(QIODevice::ReadOnly);
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString scriptLine = QStringLiteral("\"%1\" line ").arg(QLatin1String(kScriptName));
    for (const QString &line : lines) {
        if (line.startsWith(scriptLine) && !line.contains(QLatin1String(": warning:")))
            return QStringLiteral("gnuplot: ") + line.trimmed();
    }
    if (!lines.isEmpty())
        return QStringLiteral("gnuplot: ") + lines[0].trimmed();
    return QStringLiteral("gnuplot ended with status %1").arg(status);
}

// gnuplot's wait status, -1 with errno when it cannot be waited for. When
// servoctl is asked to end, so is gnuplot's whole group: SIGTERM, and
// SIGKILL after kEndGraceNs for a gnuplot that hangs on; what is left of
// the group once gnuplot has gone is killed too.
int waitForGnuplot(pid_t pid)
{
    const qint64 kEndGraceNs = 2000000000;
    qint64 killAtNs = 0;
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, killAtNs ? WNOHANG : 0);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR)
            return -1;
        if (!interruptSignal())
            continue;
        if (!killAtNs) {
            kill(-pid, SIGTERM);
            killAtNs = monotonicNs() + kEndGraceNs;
        } else if (monotonicNs() >= killAtNs) {
            kill(-pid, SIGKILL);
        }
        if (ended == 0) {
            const timespec pause = {0, 10000000};
            nanosleep(&pause, nullptr);
        }
    }
    if (killAtNs)
        kill(-pid, SIGKILL);
    return status;
}

// Runs gnuplot on the script in dir, with no shell between; empty when it
// drew the image.
QString runGnuplot(const QString &program, const QDir &dir)
{
    const QByteArray path = QFile::encodeName(program);
    const QByteArray folder = QFile::encodeName(dir.path());
    char name[] = "gnuplot";
    char script[sizeof kScriptName];
    std::memcpy(script, kScriptName, sizeof kScriptName);
    char *const argv[] = {name, script, nullptr};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        return QStringLiteral("cannot start gnuplot: %1").arg(systemReason());
    if (pid == 0) { // only async-signal-safe calls from here
        // A group of its own, which servoctl ends whole (a gnuplot that is
        // a script ends its own children too); and gone with servoctl,
        // should servoctl be killed outright.
        setpgid(0, 0);
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
            _exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        const int errors = chdir(folder.constData()) == 0
                               ? ::open(kErrorsName, O_WRONLY | O_CREAT | O_TRUNC, 0600) : -1;
        if (null < 0 || errors < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(null, STDOUT_FILENO) < 0
            || dup2(errors, STDERR_FILENO) < 0) {
            _exit(127);
        }
        execv(path.constData(), argv);
        _exit(127);
    }
    setpgid(pid, pid); // as the child does, whichever runs first
    setChildGroupToKill(pid);
    const int status = waitForGnuplot(pid);
    clearChildGroupToKill();
    if (status < 0)
        return QStringLiteral("gnuplot: %1").arg(systemReason());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return QString();
    return gnuplotError(dir, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

bool writeFileIn(const QDir &dir, const QString &name, const QByteArray &contents)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.flush();
}

// Draws the series into dir's image; false with *error set.
bool draw(const Chart &chart, const QDir &dir, QString *error)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
    if (program.isEmpty()) {
        *error = QStringLiteral("plot needs gnuplot (apt-get install gnuplot-nox)");
        return false;
    }
    bool written = writeFileIn(dir, QLatin1String(kScriptName), plotScript(chart));
    for (int i = 0; i < chart.series.size() && written; ++i)
        written = writeFileIn(dir, QStringLiteral("%1.dat").arg(i), seriesData(chart.series[i], chart));
    if (!written) {
        *error = QStringLiteral("cannot write gnuplot's files into %1").arg(dir.path());
        return false;
    }
    *error = runGnuplot(program, dir);
    return error->isEmpty();
}

Chart chartOf(const QString &csvPath, const QList<CsvLogRow> &rows)
{
    Chart chart;
    chart.series = groupSeries(rows);
    chart.startMs = rows[0].epochMs;
    qint64 endMs = chart.startMs;
    for (const CsvLogRow &row : rows)
        endMs = qMax(endMs, row.epochMs);
    const bool minutes = endMs - chart.startMs > kSecondsUpToMs;
    chart.xLabel = minutes ? QStringLiteral("time (min)") : QStringLiteral("time (s)");
    chart.msPerUnit = minutes ? 60000.0 : 1000.0;
    chart.title = QStringLiteral("%1, %2").arg(
        QFileInfo(csvPath).fileName(),
        QDateTime::fromMSecsSinceEpoch(chart.startMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    return chart;
}

bool plot(const QString &csvPath, const QString &pngPath, const QList<CsvLogRow> &rows, QString *error)
{
    const Chart chart = chartOf(csvPath, rows);
    if (!hasFiniteValue(chart.series)) {
        *error = QStringLiteral("%1: no value to draw, every one is nan or inf").arg(csvPath);
        return false;
    }
    const QTemporaryDir temporary(QDir::temp().filePath(QStringLiteral("servoctl-plot-XXXXXX")));
    if (!temporary.isValid()) {
        *error = QStringLiteral("cannot make a folder for gnuplot: %1").arg(temporary.errorString());
        return false;
    }
    const QDir dir(temporary.path());
    if (!draw(chart, dir, error))
        return false;
    QFile image(dir.filePath(QLatin1String(kImageName)));
    if (!image.open(QIODevice::ReadOnly) || image.size() == 0) {
        *error = QStringLiteral("gnuplot drew no image");
        return false;
    }
    if (!writeNewFile(pngPath, image.readAll(), error))
        return false;
    const int lines = chart.series.size();
    std::printf("%s: plot of %d rows, %d %s, %dx%d\n", qPrintable(pngPath), int(rows.size()), lines,
                lines == 1 ? "line" : "lines", kPlotWidth, kPlotHeight);
    return true;
}

} // namespace

int plotCsvLog(const QString &csvPath, const QString &pngPath)
{
    QList<CsvLogRow> rows;
    QString error;
    if (readCsvLog(csvPath, &rows, &error) && rows.isEmpty())
        error = QStringLiteral("%1: no rows to plot").arg(csvPath);
    if (error.isEmpty() && plot(csvPath, pngPath, rows, &error)) {
        std::fflush(stdout);
        return 0;
    }
    if (interruptSignal()) // main says so
        return 0;
    std::fprintf(stderr, "servoctl: %s\n", qPrintable(visibleText(error))); // a log's word may hold a line break
    return 1;
}
