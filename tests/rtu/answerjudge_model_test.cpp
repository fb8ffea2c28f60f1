// The judge driven through a million generated sequences of requests to two
// drives that answer in order: on time, late, never, cut short, twice or with
// an exception, among other stations' frames, noise and echoes, on a serial
// line and (one sequence in four) over a network or a pseudo-terminal, which
// keep no wire time. What must hold whatever comes: no answer is handed to a
// request it does not fit on the wire; every byte received is accounted for
// once; no look-alike request is sent while an owed answer could still be
// taken for its own; no answer to another question is taken unflagged, but
// on a pseudo-terminal before the far end has shown it answers twice
// (counted).
#include <algorithm>
#include <cstdio>
#include <random>

#include <QSet>

#include <gtest/gtest.h>

#include "bitwise_crc.h"
#include "judgedline.h"
#include "modbuscrc.h"

namespace {

const qint64 kMs = JudgedLine::kMs;
const qint64 kCharNs = 100000; // about 110 kBd
const int kSequences = 1000000;

struct Owed
{
    RtuRequest request;
    qint64 sentNs;
};

struct Tally
{
    qint64 requests = 0, taken = 0, bytes = 0, holdsChecked = 0, faults = 0;
    qint64 wrongFit = 0, unaccounted = 0, heldTooShort = 0;
    qint64 checks = 0, wrongTaken = 0, wrongFlagged = 0;
    qint64 doubled = 0, wrongUntold = 0;
};

class Model
{
public:
    explicit Model(quint64 seed) : m_rng(seed) {}

    void runSequence(Tally *t)
    {
        AnswerJudge::Settings s;
        s.answerTimeoutNs = 100 * kMs;
        s.interCharacterNs = 3 * kMs;
        s.silentIntervalNs = 2 * kMs;
        s.characterNs = kCharNs;
        s.knownSilent = chance(50);
        s.keepsNoTime = chance(25);
        s.network = s.keepsNoTime && chance(50);
        JudgedLine line(s);
        line.onWire = true;
        m_shown.clear();
        qint64 driveFreeAt[3] = {}; // a drive answers in order: the next one no sooner
        QList<Owed> owed;
        const int requests = 1 + pick(4);
        for (int i = 0; i < requests; ++i) {
            const QByteArray frame = randomRequest();
            // As the port does: a step check first where one is due.
            const RtuRequest check = line.stepCheck(RtuRequest(frame));
            t->checks += check.isKnown();
            if ((check.isKnown() && !exchange(&line, check.frame(), driveFreeAt, &owed, t))
                || !exchange(&line, frame, driveFreeAt, &owed, t)) {
                break;
            }
        }
        line.settleAt(line.now + 1000 * kMs);
        t->unaccounted += line.accounted() != line.received;
        t->bytes += line.received;
    }

private:
    // One request and its answer, checked; false when the port stopped.
    bool exchange(JudgedLine *line, const QByteArray &frame, qint64 *driveFreeAt, QList<Owed> *owed, Tally *t)
    {
        const RtuRequest request(frame);
        const int eventsAtSend = line->events.size();
        const qint64 sent = line->send(frame);
        t->unaccounted += line->accounted() != line->received;
        if (sent < 0)
            return false;
        ++t->requests;
        // An owed answer that came while the request waited settles it.
        settleOwed(owed, line->events.mid(eventsAtSend));
        for (int k = owed->size() - 1; k >= 0; --k) {
            if (sent - owed->at(k).sentNs > line->judge.owedMemoryNs())
                owed->removeAt(k);
            else if (owed->at(k).request.answersLookAlike(request)) {
                ++t->holdsChecked;
                t->heldTooShort += sent < owed->at(k).sentNs + line->judge.lateHorizonNs();
            }
        }
        playDrive(line, &driveFreeAt[request.station() % 3], request, sent);
        const int eventsBefore = line->events.size();
        const int uncertainBefore = line->count(JudgeEvent::UncertainAnswer);
        const QByteArray got = line->receive(request.isKnown() ? request.answerLength() : 8);
        t->unaccounted += line->accounted() != line->received;
        if (line->judge.echoFault() != EchoFault::None) {
            ++t->faults;
            return false;
        }
        const int length = rtuAnswerLength(got.constData(), got.size());
        const bool whole = length > 0 && got.size() >= length && hasValidModbusCrc(got.constData(), length);
        if (whole) {
            ++t->taken;
            t->wrongFit += !request.isAnswer(got.constData(), length);
            if (request.isNormalAnswer(got.constData(), length) && got.left(length) != answerTo(request, false)) {
                const bool flagged = line->count(JudgeEvent::UncertainAnswer) > uncertainBefore;
                const bool untold = line->judge.settings().keepsNoTime && !line->judge.settings().network
                                    && !m_shown.contains(request.station());
                ++(flagged ? t->wrongFlagged : untold ? t->wrongUntold : t->wrongTaken);
            }
        }
        settleOwed(owed, line->events.mid(eventsBefore));
        for (const JudgeEvent &e : line->events.mid(eventsAtSend)) {
            if (e.kind == JudgeEvent::Late && e.latenessNs < 0)
                m_shown.insert(e.station); // an answer too many: out of step
        }
        if (whole)
            forgetStation(owed, quint8(got.at(0)));
        else if (got.isEmpty() && !request.isBroadcast() && request.isKnown())
            owed->append(Owed{request, sent});
        return true;
    }

    int pick(int n) { return int(m_rng() % quint64(n)); }
    bool chance(int percent) { return pick(1000) < percent * 10; }
    // What a station said, taken or dropped, settles what it owed.
    static void settleOwed(QList<Owed> *owed, const QList<JudgeEvent> &events)
    {
        for (const JudgeEvent &e : events) {
            if (e.kind == JudgeEvent::Late)
                forgetStation(owed, e.station);
        }
    }
    static void forgetStation(QList<Owed> *owed, int station)
    {
        owed->erase(std::remove_if(owed->begin(), owed->end(),
                                   [=](const Owed &o) { return o.request.station() == station; }),
                    owed->end());
    }
    // Reads of one register at two places (answers alike) and of two,
    // writes of three values to one register, a multiple write; broadcasts.
    QByteArray randomRequest()
    {
        static const char *const shapes[] = {"0300000001", "0300020001", "0300000002",      "0600100000",
                                             "0600100001", "0600100002", "10000000010200FF"};
        const char station = char(chance(3) ? 0 : 1 + pick(2));
        return withCrc(station + QByteArray::fromHex(shapes[pick(7)]));
    }
    QByteArray answerTo(const RtuRequest &request, bool exception)
    {
        QByteArray a;
        a.append(char(request.station()));
        if (exception)
            return withCrc(a + char(request.function() | 0x80) + char(2));
        a.append(char(request.function()));
        if (request.function() == 3) {
            // Each register holds a value of its own: an answer to another
            // question differs from the true one.
            const int bytes = request.answerLength() - 5;
            const int address = quint8(request.frame().at(3));
            a.append(char(bytes));
            for (int i = 0; i < bytes; i += 2)
                a.append(char(request.station())).append(char(address + i / 2));
            return withCrc(a);
        }
        return withCrc(a + request.frame().mid(2, 4));
    }
    // What the line brings after a request: the drive's answer, and now and
    // then an echo, another station's frame, noise.
    void playDrive(JudgedLine *line, qint64 *freeAt, const RtuRequest &request, qint64 sent)
    {
        const qint64 onWire = sent + request.frame().size() * kCharNs;
        if (chance(1))
            line->arrive(onWire, request.frame());
        if (chance(3))
            line->arrive(sent + pick(150) * kMs, withCrc(QByteArray::fromHex("0903020000")));
        if (chance(3)) {
            QByteArray noise;
            for (int n = 1 + pick(6); n > 0; --n)
                noise.append(char(m_rng()));
            line->arrive(sent + pick(150) * kMs, noise);
        }
        if (request.isBroadcast())
            return;
        const int fate = pick(100);
        if (fate < 8) // unheard: no answer, the drive idle
            return;
        QByteArray answer = answerTo(request, fate < 13);
        const qint64 delay = fate < 21 ? (100 + pick(250)) * kMs : (2 + pick(18)) * kMs;
        const qint64 end = qMax(onWire, *freeAt) + delay + answer.size() * kCharNs;
        *freeAt = end;
        if (fate < 25) { // cut short
            answer.truncate(1 + pick(answer.size() - 1));
            line->arrive(end, answer);
            return;
        }
        if (chance(20)) { // in two bursts
            const int split = 1 + pick(answer.size() - 1);
            line->arrive(end - 2 * kMs, answer.left(split));
            line->arrive(end, answer.mid(split));
        } else {
            line->arrive(end, answer);
        }
        if (chance(4)) {
            // Sent twice. On a half-duplex wire the copy begins before the
            // master may send again (a silent interval, 2 ms); a link that
            // keeps no time may bring it any time later.
            const bool noTime = line->judge.settings().keepsNoTime;
            const qint64 gap = noTime ? pick(30) * kMs : pick(20) * kMs / 10;
            *freeAt = end + gap + answer.size() * kCharNs;
            line->arrive(*freeAt, answer);
            ++m_doubled;
        }
    }

public:
    qint64 m_doubled = 0;

private:
    QSet<int> m_shown; // stations that sent an answer none was owed
    std::mt19937_64 m_rng;
};

TEST(AnswerJudgeModel, AMillionSequencesKeepTheInvariants)
{
    const quint64 seed = 20261206;
    Model model(seed);
    Tally t;
    for (int i = 0; i < kSequences; ++i)
        model.runSequence(&t);
    std::printf("model (seed %llu): %d sequences, %lld requests (%lld of them step checks), "
                "%lld answers taken, %lld bytes, %lld look-alike requests after an owed one, %lld echo faults\n",
                (unsigned long long)seed, kSequences, (long long)t.requests, (long long)t.checks,
                (long long)t.taken, (long long)t.bytes, (long long)t.holdsChecked, (long long)t.faults);
    std::printf("  answers that do not fit their request on the wire: %lld\n"
                "  times the bytes were not all accounted for once: %lld\n"
                "  look-alike requests sent within the horizon of an owed one: %lld\n"
                "  answers taken that answered another question: %lld (flagged uncertain: %lld more)\n"
                "  answers sent twice: %lld\n"
                "  copies taken for the next request before the far end had shown it (pseudo-terminals): %lld\n",
                (long long)t.wrongFit, (long long)t.unaccounted, (long long)t.heldTooShort, (long long)t.wrongTaken,
                (long long)t.wrongFlagged, (long long)model.m_doubled, (long long)t.wrongUntold);
    EXPECT_GT(t.taken, kSequences);
    EXPECT_EQ(t.wrongFit, 0);
    EXPECT_EQ(t.unaccounted, 0);
    EXPECT_EQ(t.heldTooShort, 0);
    EXPECT_EQ(t.wrongTaken, 0);
}

} // namespace
