#ifndef SERVOCTL_MONITORPAIRER_H
#define SERVOCTL_MONITORPAIRER_H

#include <deque>

#include <QList>

#include "monitorframer.h"
#include "rtuanswer.h"

// What a listener makes of the frames on a line: requests paired with their
// answers, and what fits nothing.
struct Transaction
{
    enum Kind {
        Exchange, // a request, and its answer if one came (answer empty: none)
        Late,     // an answer to an earlier request, after a later one began
        Unasked,  // an answer no request on the line asked for
        Noise     // bytes that make no frame
    };
    Kind kind = Exchange;
    HeardFrame request;    // Exchange and Late: the request answered
    HeardFrame answer;     // Exchange (if any), Late, Unasked; Noise: the bytes
    int askedStation = -1; // Unasked: the station whose answer was awaited (-1: none)

    bool answered() const { return !answer.isEmpty(); }
    // End of the request to start of the answer, as their bytes were timed;
    // -1 where that is not known: the answer was read together with the
    // frame before it, or its times cross the request's (answerCrossed()).
    qint64 answerNs() const;
    // The answer, as timed, began before the request ended: a time no line
    // can show. Either the request was read late (the machine woke the
    // listener late) or the bytes come faster than the baud rate given
    // allows, from whose character time the frames' ends are reckoned.
    bool answerCrossed() const;
};

// Pairs requests with answers, as Modbus RTU allows: one request at a time,
// answered by the station asked with the same function (or its exception),
// at the length the request implies (rtuanswer.h); a request for more
// items than any answer can carry, by an exception alone. A frame with a bad
// CRC while an answer is awaited is that answer, damaged, when it begins
// with the station asked or has its function second; otherwise it is noise. A request of a function
// whose answer has no known length is answered by the next frame of its
// station and function. An answer that fits none of these but does fit a
// request left unanswered a little earlier is that one's, late. Pure, and
// bounded: it remembers the request awaited and a few unanswered ones.
class MonitorPairer
{
public:
    static int maxRemembered() { return 8; }

    // A request unanswered this long after it ended has none.
    explicit MonitorPairer(qint64 answerWaitNs);

    void add(const HeardFrame &frame, QList<Transaction> *done);
    // Time passes: a request awaited past the answer wait is closed.
    void idle(qint64 nowNs, QList<Transaction> *done);
    // When idle() next has something to close; -1 when nothing is awaited.
    qint64 deadlineNs() const;
    // The end of the listening: whatever is awaited has no answer.
    void finish(QList<Transaction> *done);

private:
    bool fitsAwaited(const HeardFrame &frame) const;
    bool takeLate(const HeardFrame &frame, QList<Transaction> *done);
    void closeAwaited(QList<Transaction> *done);

    qint64 m_answerWaitNs;
    bool m_awaiting = false;
    HeardFrame m_awaited;
    RtuRequest m_awaitedRequest;
    std::deque<HeardFrame> m_unanswered; // newest last
};

#endif // SERVOCTL_MONITORPAIRER_H
