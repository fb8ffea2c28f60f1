#ifndef SERVOCTL_RUN_H
#define SERVOCTL_RUN_H

// servoctl as a user runs it: a child process, its status and its output,
// and the checks that output gets.
#include <csignal>

#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include "child_process.h"
#include "text_checks.h"

struct Outcome
{
    int status = -1; // exit status; -1 when killed or not started
    QString out;
    QString err;
};

// Arguments without quoting, split at spaces: "--sim read HR1".
inline QStringList words(const char *line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '));
}

inline Outcome servoctl(const QStringList &args)
{
    ChildProcess child(SERVOCTL_COMMAND, args);
    const int status = child.finish();
    return Outcome{status, child.out(), child.err()};
}

// A second servoctl on a line another program holds: refused, the holder named.
inline void expectHeldBy(const QString &url, qint64 pid)
{
    const Outcome second = servoctl({"-d", url, "read", "HR1"});
    EXPECT_EQ(second.status, 1);
    const QString refusal = QStringLiteral("^servoctl: %1 is in use by .+ \\(pid %2\\)\n$");
    EXPECT_TRUE(matches(second.err, refusal.arg(QRegularExpression::escape(url)).arg(pid)));
}

// What a kind of thing came to in servosim's counters at exit: "40
// requests", or a fault by its name after "injected:", "drop 3".
inline qint64 counted(const QString &text, const QString &name)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("(\\d+) %1\\b|\\b%1 (\\d+)").arg(name)).match(text);
    return match.hasMatch() ? (match.captured(1) + match.captured(2)).toLongLong() : 0;
}

// The terminal a servosim child serves, once it has printed it; empty when
// it never did.
inline QString servedLine(ChildProcess &servosim)
{
    return servosim.waitFor(QStringLiteral("\n"), 60000, ChildProcess::OutOnly)
               ? servosim.out().section(QLatin1Char('\n'), 0, 0)
               : QString();
}

// servosim serving a line, with a tap, until the test ends it.
struct TappedLine
{
    TappedLine(const QTemporaryDir &dir, const QString &line, const QString &stations, const QString &faults)
        : link(dir.filePath(QStringLiteral("line")))
        , tap(dir.filePath(QStringLiteral("tap")))
        , sim(SERVOSIM_COMMAND, {"--stations", stations, "--line", line, "--faults", faults, "--link", link, "--tap", tap})
    {
    }
    bool ready() { return sim.waitFor(QStringLiteral("listen-only\n")); }
    // servosim's closing counters.
    QString stop()
    {
        sim.signal(SIGTERM);
        sim.finish();
        return sim.err();
    }

    const QString link, tap;
    ChildProcess sim;
};

#endif // SERVOCTL_RUN_H
