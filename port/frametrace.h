#ifndef FRAMETRACE_H
#define FRAMETRACE_H

#include <cstdio>
#include <functional>

#include <QByteArray>
#include <QString>

// A trace of the frames on a line, one line of text per frame:
//   14:03:07.512034 TX 01 03 00 63 00 02 34 15
//   14:03:07.521870 RX 01 03 04 12 34 56 78 81 07
// Bytes received are gathered into one RX line until the next frame is
// sent or flush() is called, stamped with the time of their first byte.
// Notes (time-outs, discarded input) are lines beginning with "--".
class FrameTrace
{
public:
    using Sink = std::function<void(const QString &line)>;

    // Writes each line, with a line feed, to out and flushes it.
    explicit FrameTrace(FILE *out);
    explicit FrameTrace(Sink sink);
    ~FrameTrace();

    FrameTrace(const FrameTrace &) = delete;
    FrameTrace &operator=(const FrameTrace &) = delete;

    void sent(const char *data, int length);
    void received(const char *data, int length);
    void note(const QString &text);
    void flush();

    // "01 03 00 63": upper-case hexadecimal bytes separated by blanks.
    static QString hex(const QByteArray &bytes);

private:
    void emitLine(qint64 wallNs, const QString &text);

    Sink m_sink;
    QByteArray m_pending;
    qint64 m_pendingSince = 0;
};

#endif // FRAMETRACE_H
