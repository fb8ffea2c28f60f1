#ifndef LINELISTENER_H
#define LINELISTENER_H

#include <QList>

#include "linesettings.h"
#include "monitorframer.h"

// Listens on a terminal without ever writing to it, and frames what it
// hears by the line's silences (monitorframer.h), each read timed on the
// monotonic clock: the one shell around the listener's framer, for the
// monitor and for finding a line's rate.
//
// Called by: servoctl's monitor and --line auto, on their thread. listen()
// blocks until bytes come, a deadline passes or wakeFd is readable. The
// caller owns the descriptor: it opens, sets and restores it.
class LineListener
{
public:
    // fd is set to settings already; wholeFrames: a pseudo-terminal (see
    // MonitorFramer). wakeFd, when not -1, ends a wait (a signal's pipe).
    LineListener(int fd, const LineSettings &settings, bool wholeFrames, int wakeFd = -1);

    enum class End {
        Listened, // bytes came, a deadline passed, or wakeFd woke it
        Lost,     // the device hung up or was closed
        Failed    // the wait itself failed: errno says why
    };
    // One wait, until untilNs at the latest (-1: no limit but the frame in
    // progress's end); the frames it completed are appended to *frames,
    // also when the device was lost.
    End listen(qint64 untilNs, QList<HeardFrame> *frames);
    // The frame in progress, however short the silence after it.
    void finish(QList<HeardFrame> *frames);
    // When the frame in progress ends if nothing more comes; -1: none is.
    qint64 deadlineNs() const { return m_framer.deadlineNs(); }

private:
    int m_fd;
    int m_wakeFd;
    MonitorFramer m_framer;
};

#endif // LINELISTENER_H
