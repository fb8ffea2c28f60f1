#ifndef PACEDLINE_H
#define PACEDLINE_H

#include <atomic>
#include <mutex>
#include <thread>

#include <QString>

#include "deadlinesleeper.h"
#include "linesettings.h"
#include "rtuframer.h"

class SimLine;

// A simulated line on a pseudo-terminal that keeps a real line's time.
//
// Paced: every character a client writes counts as arriving one character
// time after the previous one (a pty delivers a whole write at once); a
// request is heard when its last character has arrived, the drive answers
// after its turnaround, and the answer's characters become readable one
// character time apart, each when its stop bit has passed. Unpaced: answers
// are written at once, as fast as the pty goes.
//
// The drive frames requests by their length, so its turnaround (0 by
// default) is its own reaction time only; the master keeps the silent
// interval between an answer and its next request. The line records that
// gap, answer end to next request start, as the drive saw it.
//
// The serving thread runs at real-time priority where the system allows
// (as a UART would not be late), with 1 ns timer slack, and paces with a
// DeadlineSleeper, so the characters are not late by the timer's wake-up.
class PacedLine
{
public:
    struct Gaps
    {
        long long count = 0;
        double meanNs = 0;
        long long minNs = 0;
        long long maxNs = 0;
    };

    explicit PacedLine(SimLine *line);
    ~PacedLine();

    bool open(const LineSettings &settings, bool paced, qint64 turnaroundNs = 0);
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }
    bool realTime() const { return m_realTime; }

    bool start();
    void stop();
    // The gaps recorded since the last call.
    Gaps takeGaps();

private:
    void run();
    void serve(const char *data, int length, qint64 readNs);
    void answer(const QByteArray &frame, qint64 heardNs);
    void recordGap(qint64 ns);

    SimLine *m_line;
    LineSettings m_settings;
    bool m_paced = false;
    qint64 m_turnaroundNs = 0;
    qint64 m_charNs = 0;
    QString m_path;
    QString m_error;
    int m_master = -1;
    int m_slave = -1;
    int m_stopPipe[2] = {-1, -1};
    bool m_realTime = false;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};

    // Serving thread's view of the wire.
    RtuFramer m_framer;
    DeadlineSleeper m_sleeper; // a character is not late by the timer
    qint64 m_wireFreeNs = 0;   // end of the last character heard
    qint64 m_answerEndNs = -1; // end of the last answer sent; -1 none yet

    std::mutex m_gapMutex;
    long long m_gapCount = 0;
    long long m_gapSumNs = 0;
    long long m_gapMinNs = 0;
    long long m_gapMaxNs = 0;
};

#endif // PACEDLINE_H
