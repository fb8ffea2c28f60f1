// servoctl at the Modbus standard's quantity limits, which the driver goes
// past (2008 bits read, 1976 coils written, where the standard stops at
// 2000 and 1968).
#include <poll.h>
#include <unistd.h>

#include <QByteArray>
#include <QStringList>

#include <gtest/gtest.h>

#include "bitwise_crc.h"
#include "hosttest.h"
#include "servoctl_run.h"

namespace {

const char kPastStandard[] = "go past the Modbus standard's";

// Appends bytes from fd until out holds size of them; false when the line
// stays silent for long (a request that never came).
bool readUpTo(int fd, QByteArray *out, int size)
{
    while (out->size() < size) {
        pollfd pfd = {fd, POLLIN, 0};
        char buffer[512];
        if (poll(&pfd, 1, 30000) <= 0)
            return false;
        const ssize_t got = ::read(fd, buffer, size_t(qMin(int(sizeof buffer), size - out->size())));
        if (got <= 0)
            return false;
        out->append(buffer, int(got));
    }
    return true;
}

// Plays a drive that takes whatever the driver sends: answers one request
// of function 1, 2 or 15 on master (all bits off) and returns the quantity
// it asked for; -1 when no whole request came.
int answerOneRequest(int master)
{
    QByteArray request;
    if (!readUpTo(master, &request, 8))
        return -1;
    const int quantity = (quint8(request[4]) << 8) | quint8(request[5]);
    QByteArray answer = request.left(6);
    if (quint8(request[1]) == 15) {
        if (!readUpTo(master, &request, 9 + quint8(request[6])))
            return -1;
    } else {
        const int bytes = (quantity + 7) / 8;
        answer = request.left(2) + char(bytes) + QByteArray(bytes, '\0');
    }
    answer = withCrc(answer);
    if (::write(master, answer.constData(), size_t(answer.size())) != answer.size())
        return -1;
    return quantity;
}

QStringList coilValues(int count)
{
    return QStringList{"write", "DO1", "bit"} + QVector<QString>(count, QStringLiteral("1")).toList();
}

// The count goes out as asked, even past the standard; one line says so
// before it is sent, from the first count past the standard's on.
TEST(ServoctlLimits, PastTheStandardIsSentWithOneWarning)
{
    const struct
    {
        QStringList command;
        int quantity;        // asked of the drive
        const char *warning; // what the warning line begins with
    } cases[] = {
        {{"read", "DI1", "bit", "2000"}, 2000, nullptr},
        {{"read", "DI1", "bit", "2001"}, 2001,
         "read DI1: 2001 inputs in one read go past the Modbus standard's 2000"},
        {{"read", "FN5DO1", "bit2", "2008"}, 2008, "read FN5DO1: 2008 coils in one read"},
        {coilValues(1968), 1968, nullptr},
        {coilValues(1969), 1969, "write DO1: 1969 coils in one write go past the Modbus standard's 1968"},
        {{"--polls", "1", "poll", "DO1", "bit", "2001"}, 2001, "poll DO1: 2001 coils in one read"},
    };
    for (const auto &c : cases) {
        int master = -1, slave = -1;
        ASSERT_TRUE(openRawPty(&master, &slave));
        const QStringList line = {"-d", QString::fromLocal8Bit(ptsname(master)), "--timeout", "5000",
                                  "--retries", "0"};
        ChildProcess child(SERVOCTL_COMMAND, line + c.command);
        EXPECT_EQ(answerOneRequest(master), c.quantity) << qPrintable(c.command.mid(0, 4).join(' '));
        EXPECT_EQ(child.finish(), 0) << qPrintable(child.err());
        EXPECT_EQ(child.err().count(QLatin1String(kPastStandard)), c.warning ? 1 : 0) << qPrintable(child.err());
        if (c.warning) {
            const QString warning = QStringLiteral("servoctl: %1").arg(QLatin1String(c.warning));
            EXPECT_TRUE(child.err().startsWith(warning)) << qPrintable(child.err());
            EXPECT_TRUE(child.err().contains(QLatin1String(": the driver sends them, but a drive that keeps to "
                                                           "the standard answers exception 03 (illegal data "
                                                           "value)\n")))
                << qPrintable(child.err());
        }
        ::close(master);
        ::close(slave);
    }
}

// Standard drives: addresses each within the standard share reads that
// keep within it too, and FN5DO writes a request per coil.
TEST(ServoctlLimits, WhatAStandardDriveTakesPassesWithoutWarning)
{
    const struct
    {
        QStringList command;
        const char *shown;
    } cases[] = {
        {{"poll", "DI1", "bit", "1000", "DI1001", "bit", "1000"}, ", 1 read a cycle"},
        {{"poll", "DI1", "bit", "1000", "DI1001", "bit", "1001"}, ", 2 reads a cycle"},
        {{"poll", "DO2001", "DO1", "bit", "8"}, ", 2 reads a cycle"},
        {{"poll", "DO2000", "DO1", "bit", "8"}, ", 1 read a cycle"},
        {QStringList{"write", "FN5DO1", "bit"} + coilValues(1969).mid(3), "FN5DO1: wrote 1969 bits\n"},
    };
    for (const auto &c : cases) {
        const Outcome run = servoctl(QStringList{"--line", "RS485,115200,NONE,8,2", "--polls", "1"} + c.command);
        EXPECT_EQ(run.status, 0) << qPrintable(run.err);
        EXPECT_TRUE(run.out.contains(QLatin1String(c.shown))) << c.shown << " in " << qPrintable(run.out);
        EXPECT_FALSE(run.err.contains(QLatin1String(kPastStandard))) << qPrintable(run.err);
    }
}

} // namespace
