#ifndef JUDGEDLINE_H
#define JUDGEDLINE_H

// The port's judge on a line played by the test: bytes arrive at given
// times, and the waits the judge asks for pass at once, as the port's shell
// would spend them. No descriptor, no clock, no sleep.

#include <algorithm>

#include <QList>

#include "answerjudge.h"

class JudgedLine
{
public:
    static constexpr qint64 kMs = 1000000;

    explicit JudgedLine(const AnswerJudge::Settings &settings, qint64 startNs = 1000 * kMs) : now(startNs)
    {
        judge.configure(settings);
        judge.reset(now);
    }

    // Bytes that reach the port at atNs.
    void arrive(qint64 atNs, const QByteArray &bytes)
    {
        auto at = std::find_if(m_pending.begin(), m_pending.end(), [=](const Arrival &a) { return a.at > atNs; });
        m_pending.insert(at, Arrival{atNs, bytes});
    }

    // Waits as the port does before a request, and sends it: its time, or
    // -1 when the port stopped.
    qint64 send(const QByteArray &frame)
    {
        const RtuRequest request(frame);
        if (judge.echoFault() != EchoFault::None)
            return -1;
        judge.forgetOld(now);
        for (;;) {
            while (arrivesBy(now)) {
                deliver();
                judge.settle(false);
            }
            collect();
            const qint64 clearAt = judge.clearToSendAt(request);
            if (judge.echoFault() != EchoFault::None || now >= clearAt)
                break;
            now = arrivesBy(clearAt) ? m_pending.first().at : clearAt;
        }
        judge.settle(true);
        judge.cleared();
        collect();
        if (judge.echoFault() != EchoFault::None)
            return -1;
        judge.requestSent(request, now, onWire ? now + frame.size() * judge.settings().characterNs : 0);
        if (judge.settings().localEcho) {
            bool ok = false;
            run([&](WaitEnd last) { return judge.readEcho(last, &ok); });
            if (!ok)
                return -1;
        }
        return now;
    }

    // The step check the port would send before request, with what came
    // by now settled first.
    RtuRequest stepCheck(const RtuRequest &request)
    {
        judge.forgetOld(now);
        while (arrivesBy(now))
            deliver();
        judge.settle(false);
        collect();
        return judge.stepCheckFor(request);
    }

    // What the port hands the driver asking for wanted bytes of the answer.
    QByteArray receive(int wanted)
    {
        if (judge.echoGarbled() || judge.echoFault() != EchoFault::None)
            return QByteArray();
        run([&](WaitEnd last) { return judge.frameAnswer(last); });
        const QByteArray out = judge.input().left(wanted);
        judge.handOver(out.size());
        handed += out.size();
        if (out.size() < wanted && out.size() > 0)
            judge.answerEnded(now);
        return out;
    }

    // Reads what came unasked up to atNs, and settles it.
    void settleAt(qint64 atNs)
    {
        while (arrivesBy(atNs))
            deliver();
        now = std::max(now, atNs);
        judge.settle(true);
        collect();
    }

    int count(JudgeEvent::Kind kind) const
    {
        return int(std::count_if(events.begin(), events.end(), [kind](const JudgeEvent &e) {
            return e.kind == kind;
        }));
    }
    // Every byte received is handed over, judged away, or still in.
    qint64 accounted() const
    {
        qint64 sum = handed + judge.input().size();
        for (const JudgeEvent &e : events)
            sum += e.length;
        return sum;
    }

    AnswerJudge judge;
    qint64 now;
    // The request's last character told to the judge as the port does (its
    // length on the wire after sending), not the sending itself.
    bool onWire = false;
    qint64 received = 0;
    qint64 handed = 0;
    QList<JudgeEvent> events;

private:
    struct Arrival
    {
        qint64 at;
        QByteArray bytes;
    };

    void deliver()
    {
        const Arrival a = m_pending.takeFirst();
        now = std::max(now, a.at);
        judge.bytesReceived(a.bytes.constData(), a.bytes.size(), now);
        received += a.bytes.size();
    }
    void collect() { events += judge.takeEvents(); }
    bool arrivesBy(qint64 t) const { return !m_pending.isEmpty() && m_pending.first().at <= t; }
    template <typename Step>
    void run(Step step)
    {
        WaitEnd last = WaitEnd::None;
        for (;;) {
            const JudgeStep s = step(last);
            collect();
            if (s.done)
                return;
            if (arrivesBy(s.deadlineNs)) {
                deliver();
                last = WaitEnd::Bytes;
            } else {
                now = std::max(now, s.deadlineNs);
                last = WaitEnd::Quiet;
            }
        }
    }

    QList<Arrival> m_pending;
};

#endif // JUDGEDLINE_H
