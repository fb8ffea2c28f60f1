// The port's judgement of its line, on given times: what each stretch of
// bytes is, and when the next request may go.
#include <gtest/gtest.h>

#include "bitwise_crc.h"
#include "judgedline.h"

namespace {

const qint64 kMs = JudgedLine::kMs;

// 1200 baud 8N2: a character is 9.17 ms, the silent interval 32 ms.
AnswerJudge::Settings slowLine(int timeoutMs, bool keepsNoTime = false)
{
    AnswerJudge::Settings s;
    s.answerTimeoutNs = timeoutMs * kMs;
    s.interCharacterNs = 20 * kMs;
    s.characterNs = 11 * 1000000000LL / 1200;
    s.silentIntervalNs = 35 * s.characterNs / 10;
    s.keepsNoTime = keepsNoTime;
    return s;
}

// Whole frames that cannot answer the request just sent are late answers
// (or another station's): dropped, and the real answer that follows taken
// as soon as it is in.
TEST(AnswerJudge, WhatCannotAnswerTheRequestIsDroppedAndTheRealAnswerTaken)
{
    struct Case
    {
        const char *request, *dropped, *answer;
        bool noise;     // the dropped bytes begin no frame
        int other = -1; // the dropped frame's station, which no request of ours owes an answer
    } const cases[] = {
        {"010300000001", "0203020007", "010302002A", false, 2},       // another station
        {"010300000001", "0104020007", "010302002A", false},          // another function
        {"010300000001", "01030400010002", "010302002A", false},      // another byte count
        {"0101000000 0A", "010103FFFFFF", "0101020302", false},       // another bit count
        {"01101387000102 0007", "011000000001", "019002", false},     // another address acknowledged
        {"010600000007", "010600000005", "010600000007", false},      // another value echoed
        {"01050000FF00", "01050001FF00", "01050000FF00", false},      // another coil echoed
        {"010F0000000301 05", "010F00000002", "010F00000003", false}, // another quantity
        {"010300000001", "FF00FF", "010302002A", true},               // noise before the answer
        {"010300000001", "0703FA", "010302002A", true},               // a false start of 260 bytes
    };
    for (const Case &c : cases) {
        JudgedLine line(slowLine(5000));
        const QByteArray answer = hexWithCrc(c.answer);
        const qint64 sent = line.send(hexWithCrc(c.request));
        line.arrive(sent + 150 * kMs, (c.noise ? QByteArray::fromHex(c.dropped) : hexWithCrc(c.dropped)) + answer);
        EXPECT_EQ(line.receive(answer.size()), answer) << c.request;
        EXPECT_EQ(line.now, sent + 150 * kMs) << c.request << " " << c.dropped << ": taken as it came";
        ASSERT_EQ(line.events.size(), 1) << c.request;
        const JudgeEvent &e = line.events[0];
        EXPECT_EQ(e.kind, c.noise        ? JudgeEvent::Noise
                          : c.other >= 0 ? JudgeEvent::OtherStation
                                         : JudgeEvent::Late);
        EXPECT_EQ(e.length, c.noise ? 3 : hexWithCrc(c.dropped).size()) << c.request;
        if (c.other >= 0) {
            EXPECT_EQ(e.station, c.other);
            EXPECT_EQ(e.askedStation, 1);
        }
    }
}

// A request that got no answer holds back a look-alike one, a repeat
// included, for the horizon (twice the time-out) or until the owed answer
// came, which is late by the time since its request. Past the horizon the
// look-alike answer is taken and said uncertain.
TEST(AnswerJudge, ALookAlikeRequestWaitsForTheOwedAnswerOrTheHorizon)
{
    const QByteArray first = hexWithCrc("010300000001");
    const QByteArray second = hexWithCrc("010300020001"); // another register, same answer shape
    const QByteArray other = hexWithCrc("010300000002");  // another length: not held
    for (const bool lateAnswerComes : {true, false}) {
        JudgedLine line(slowLine(400));
        const qint64 t0 = line.send(first);
        EXPECT_EQ(line.receive(7), QByteArray());
        const qint64 silence = line.judge.settings().silentIntervalNs;
        EXPECT_EQ(line.judge.clearToSendAt(RtuRequest(other)), t0 + silence);
        EXPECT_EQ(line.judge.clearToSendAt(RtuRequest(first)), t0 + 800 * kMs) << "a repeat waits too";
        if (lateAnswerComes)
            line.arrive(t0 + 550 * kMs, hexWithCrc("0103020011"));
        const qint64 t1 = line.send(second);
        line.arrive(t1 + 150 * kMs, hexWithCrc("0103020022"));
        EXPECT_EQ(line.receive(7), hexWithCrc("0103020022"));
        if (lateAnswerComes) {
            EXPECT_EQ(t1, t0 + 550 * kMs + silence) << "sent as soon as the owed answer came";
            ASSERT_EQ(line.count(JudgeEvent::Late), 1);
            EXPECT_EQ(line.events[0].latenessNs, 550 * kMs);
            EXPECT_EQ(line.count(JudgeEvent::UncertainAnswer), 0);
        } else {
            EXPECT_EQ(t1, t0 + 800 * kMs);
            EXPECT_EQ(line.count(JudgeEvent::UncertainAnswer), 1);
        }
    }
}

// Before a request whose answer would look like an owed one's: a read
// whose answer looks like neither, of the request's own items where fewer
// will do. Once it is answered the drive is in step: what came before was
// late, and the request goes at once. Unanswered, the hold applies.
TEST(AnswerJudge, AfterALostAnswerALookAlikeRequestWaitsForAStepCheck)
{
    struct Case
    {
        const char *owed, *next, *check;
    } const cases[] = {
        {"010400000002", "010400040002", "010400040001"},         // fewer registers
        {"010300000001", "010300020001", "010300020002"},         // one: two
        {"010600100007", "010600100007", ""},                     // a repeat: the hold does
        {"010F000300020103", "010F000300020100", "010100030001"}, // coils: a read of one
        {"010100000008", "010100100008", "010100100009"},         // 8 bits or fewer: one byte
        {"0110001000020400010002", "0110001000020400030004", "010300100001"},
        {"010300000001", "010300000002", ""}, // not alike: none
        {"020300000001", "010300000001", ""}, // another station: none
    };
    for (const Case &c : cases) {
        JudgedLine line(slowLine(400));
        line.send(hexWithCrc(c.owed));
        EXPECT_EQ(line.receive(5), QByteArray());
        const RtuRequest check = line.stepCheck(RtuRequest(hexWithCrc(c.next)));
        EXPECT_EQ(check.frame(), *c.check ? hexWithCrc(c.check) : QByteArray()) << c.next;
    }
    for (const bool answered : {true, false}) {
        JudgedLine line(slowLine(400));
        const qint64 t0 = line.send(hexWithCrc("010300000001"));
        EXPECT_EQ(line.receive(7), QByteArray());
        const RtuRequest next(hexWithCrc("010300020001"));
        const qint64 t1 = line.send(line.stepCheck(next).frame());
        if (answered) {
            line.arrive(t1 + 100 * kMs, hexWithCrc("0103020011")); // the lost answer, late
            line.arrive(t1 + 150 * kMs, hexWithCrc("010304003300 44"));
        }
        EXPECT_EQ(line.receive(9), answered ? hexWithCrc("01030400330044") : QByteArray());
        EXPECT_EQ(line.count(JudgeEvent::Late), answered ? 1 : 0);
        EXPECT_EQ(line.judge.owedCount(), answered ? 0 : 2);
        const qint64 silence = line.judge.settings().silentIntervalNs;
        EXPECT_EQ(line.judge.clearToSendAt(next), answered ? line.now + silence : t0 + 800 * kMs);
        // Still out of step: another check, unlike the one still owed.
        EXPECT_EQ(line.stepCheck(next).frame(), answered ? QByteArray() : hexWithCrc("010300020003"));
    }
}

// With a first-byte time-out (a scan's sweep) an answer must begin within
// it; once begun, its rest is awaited by its length, past the window. An
// answer begun too late is owed, and dropped as late when it comes.
TEST(AnswerJudge, AFirstByteTimeOutBoundsOnlyTheWaitForTheFirstByte)
{
    const QByteArray answer = hexWithCrc("010302002A");
    for (const qint64 firstByteAt : {49 * kMs, 51 * kMs}) {
        AnswerJudge::Settings settings = slowLine(400);
        settings.firstByteNs = 50 * kMs;
        JudgedLine line(settings);
        const qint64 sent = line.send(hexWithCrc("010300000001"));
        for (int i = 0; i < answer.size(); ++i)
            line.arrive(sent + firstByteAt + i * settings.characterNs, answer.mid(i, 1));
        const bool inTime = firstByteAt < settings.firstByteNs;
        EXPECT_EQ(line.receive(answer.size()), inTime ? answer : QByteArray()) << firstByteAt;
        line.send(hexWithCrc("020300000001"));
        line.receive(7);
        ASSERT_EQ(line.events.size(), inTime ? 0 : 1) << firstByteAt;
        if (!inTime) {
            EXPECT_EQ(line.events[0].kind, JudgeEvent::Late);
            EXPECT_EQ(line.events[0].station, 1);
        }
    }
}

TEST(AnswerJudge, ABroadcastIsNotAwaitedAndGivesTheDrives200Ms)
{
    JudgedLine line(slowLine(5000));
    const QByteArray broadcast = hexWithCrc("000600010007");
    const qint64 sent = line.send(broadcast);
    EXPECT_EQ(line.receive(8), QByteArray());
    EXPECT_EQ(line.now, sent) << "not awaited";
    EXPECT_EQ(line.send(broadcast), sent + 200 * kMs);
}

// Without local echo: a frame that is the request itself is its echo where
// no answer can be the request; where one can, a second answer to it
// tells, in the same burst or before the next request.
TEST(AnswerJudge, AnEchoWhereNoAnswerCanBeTheRequestIsAFault)
{
    const struct
    {
        const char *request, *answer; // hex without CRC; null: none
        bool together;                // in one burst after the request
        bool atOnce;                  // at the answer, else at the next request
    } cases[] = {
        {"010300000001", "010302002A", false, true},
        {"011000000001020007", "011000000001", false, true},
        {"000600010007", nullptr, false, false}, // a broadcast: nothing answers
        {"010600010007", "010600010007", true, true},
        {"010600010007", "018602", false, false},        // left uncertain, shown by the next request
        {"0101030100 18", "010103000000", false, false}, // 24 coils at 0x0301: 01 00 18 may be their bits
    };
    for (const auto &c : cases) {
        JudgedLine line(slowLine(200));
        const QByteArray request = hexWithCrc(c.request);
        const QByteArray answer = c.answer ? hexWithCrc(c.answer) : QByteArray();
        const qint64 sent = line.send(request);
        line.arrive(sent + kMs, c.together ? request + answer : request);
        const QByteArray got = line.receive(5);
        EXPECT_EQ(line.judge.echoFault() != EchoFault::None, c.atOnce) << c.request;
        EXPECT_EQ(got.size(), c.atOnce || !c.answer ? 0 : 5) << c.request;
        if (!c.together)
            line.arrive(line.now, answer);
        EXPECT_EQ(line.send(hexWithCrc("020300000001")), -1) << c.request;
        EXPECT_EQ(line.judge.echoFault(), EchoFault::Unexpected) << c.request;
        EXPECT_EQ(line.count(JudgeEvent::Late), 0) << c.request;
    }
}

// A function-6 answer that is the request itself may be its echo: a second
// answer within the time-out shows it; with nothing after it, it is the
// answer where it came as late as one can (105 ms after the request at 1200
// baud), else uncertain, and later ones are judged without the wait. Where
// the far end keeps no time (a pseudo-terminal) only what follows tells. A
// line shown or known silent takes it at once.
TEST(AnswerJudge, AnAnswerThatIsTheRequestIsJudgedByWhenItCameAndWhatFollows)
{
    const QByteArray write = hexWithCrc("010600140005");
    const struct
    {
        const char *what;
        bool readFirst, knownSilent, keepsNoTime;
        int afterMs;         // the frame identical to the request, so long after it
        const char *follows; // 20 ms after that; null: nothing
        bool fault;
        int uncertain;
        int takenAfterMs; // when it was handed over, from the request
    } cases[] = {
        {"refused after its echo", false, false, false, 0, "018602", true, 0, -1},
        {"nothing follows, too soon", false, false, false, 0, nullptr, false, 1, 1000},
        {"as late as an acknowledgement", false, false, false, 150, nullptr, false, 0, 150},
        {"as late, but no wire time", false, false, true, 150, nullptr, false, 0, 1000},
        {"a read showed the line silent", true, false, false, 0, nullptr, false, 0, 0},
        {"known silent", false, true, false, 0, nullptr, false, 0, 0},
    };
    for (const auto &c : cases) {
        AnswerJudge::Settings settings = slowLine(1000, c.keepsNoTime);
        settings.knownSilent = c.knownSilent;
        JudgedLine line(settings);
        if (c.readFirst) {
            const qint64 at = line.send(hexWithCrc("010300000001"));
            line.arrive(at + 50 * kMs, hexWithCrc("010302002A"));
            ASSERT_EQ(line.receive(7).size(), 7);
            EXPECT_TRUE(line.judge.isSilent());
        }
        const qint64 sent = line.send(write);
        line.arrive(sent + c.afterMs * kMs, write);
        if (c.follows)
            line.arrive(sent + (c.afterMs + 20) * kMs, hexWithCrc(c.follows));
        const QByteArray got = line.receive(8);
        EXPECT_EQ(line.judge.echoFault() != EchoFault::None, c.fault) << c.what;
        EXPECT_EQ(got, c.fault ? QByteArray() : write) << c.what;
        EXPECT_EQ(line.count(JudgeEvent::UncertainEcho), c.uncertain) << c.what;
        if (c.takenAfterMs >= 0) {
            EXPECT_EQ(line.now - sent, c.takenAfterMs * kMs) << c.what;
        }
        if (c.uncertain) { // the next one is not waited for
            const qint64 again = line.send(write);
            line.arrive(again + kMs, write);
            EXPECT_EQ(line.receive(8), write);
            EXPECT_EQ(line.now - again, kMs) << c.what;
            EXPECT_EQ(line.count(JudgeEvent::UncertainEcho), 2) << c.what;
        }
    }
}

// The answer must begin within the time-out and end within its own time on
// the wire after it, plus the slack; over a network, within the time-out
// and the slack. Bytes that keep coming end the wait there, judged as on a
// quiet line: a babbling line, a trickled answer. An answer that ends in
// time is taken, however late it began.
TEST(AnswerJudge, BytesThatNeverStopEndTheWaitAtTheAnswersBound)
{
    const QByteArray request = hexWithCrc("010400000002");
    const QByteArray answer = hexWithCrc("0104040001 0002");
    AnswerJudge::Settings network = slowLine(100, true);
    network.characterNs = 0;
    network.interCharacterNs = network.answerTimeoutNs;
    const qint64 slack = AnswerJudge::kAnswerSlackNs;
    const qint64 serialBound = 200 * kMs + answer.size() * slowLine(200).characterNs + slack;
    const struct
    {
        const char *what;
        AnswerJudge::Settings settings;
        QByteArray bytes; // sent one at a time, from first on, every
        qint64 first, every;
        qint64 bound; // after the request
        bool taken;
    } cases[] = {
        {"babble", slowLine(200), QByteArray(400, char(0xFF)), 1 * kMs, 5 * kMs, serialBound, false},
        {"answer begun at the time-out", slowLine(200), answer, 199 * kMs, slowLine(200).characterNs, serialBound, true},
        {"answer trickled over a network", network, answer, 10 * kMs, 30 * kMs, 100 * kMs + slack, false},
        {"answer quickly over a network", network, answer, 99 * kMs, 1 * kMs, 100 * kMs + slack, true},
    };
    for (const auto &c : cases) {
        JudgedLine line(c.settings);
        const qint64 sent = line.send(request);
        int byBound = 0;
        for (int i = 0; i < c.bytes.size(); ++i) {
            const qint64 at = sent + c.first + i * c.every;
            line.arrive(at, c.bytes.mid(i, 1));
            byBound += at <= sent + c.bound;
        }
        const QByteArray got = line.receive(answer.size());
        EXPECT_EQ(got == answer, c.taken) << c.what;
        EXPECT_LE(line.now, sent + c.bound) << c.what;
        ASSERT_EQ(line.count(JudgeEvent::NeverSilent), c.taken ? 0 : 1) << c.what;
        EXPECT_EQ(line.judge.neverSilent(), !c.taken) << c.what;
        if (!c.taken) {
            EXPECT_EQ(line.events.last().length, byBound) << c.what;
            EXPECT_EQ(line.events.last().latenessNs, c.bound) << c.what;
        }
    }
}

// An answer sent twice, its copy after the next request left. Where the
// wire's time is kept, the copy came before the next answer could: dropped,
// and the true answer taken. Where it is not, the copy passes for the next
// answer; the true one then comes as an answer too many that puts it in
// doubt, and the next look-alike request waits for a step check.
TEST(AnswerJudge, AnAnswerSentTwiceIsDroppedOrPutsTheLastInDoubt)
{
    const QByteArray first = hexWithCrc("010300000001"), second = hexWithCrc("010300020001");
    const QByteArray answer1 = hexWithCrc("010302002A"), answer2 = hexWithCrc("010302002B");
    for (const bool keepsNoTime : {false, true}) {
        JudgedLine line(slowLine(1000, keepsNoTime));
        line.onWire = true;
        const qint64 c = line.judge.settings().characterNs;
        const qint64 t1 = line.send(first);
        line.arrive(t1 + 20 * c, answer1);
        ASSERT_EQ(line.receive(7), answer1);
        const qint64 t2 = line.send(second);
        line.arrive(t2 + kMs, answer1);
        line.arrive(t2 + 20 * c, answer2);
        EXPECT_EQ(line.receive(7), keepsNoTime ? answer1 : answer2) << keepsNoTime;
        EXPECT_EQ(line.count(JudgeEvent::Early), keepsNoTime ? 0 : 1) << keepsNoTime;
        line.settleAt(t2 + 21 * c);
        const RtuRequest check = line.stepCheck(RtuRequest(hexWithCrc("010300040001")));
        ASSERT_EQ(line.count(JudgeEvent::Late), 1) << keepsNoTime;
        EXPECT_EQ(line.events.last().latenessNs, -1);
        EXPECT_EQ(line.events.last().doubtsLastAnswer, keepsNoTime);
        EXPECT_EQ(line.judge.mayHideAnAnswerTooMany(), keepsNoTime);
        // Out of step either way: the answer just taken stays owed.
        EXPECT_TRUE(check.isKnown()) << keepsNoTime;
    }
}

// A line that never falls silent: the oldest bytes go as noise.
TEST(AnswerJudge, InputNeverGrowsPastItsBound)
{
    JudgedLine line(slowLine(100));
    line.arrive(line.now, QByteArray(3000, '\0'));
    line.settleAt(line.now);
    EXPECT_EQ(line.judge.input().size(), 0);
    EXPECT_EQ(line.count(JudgeEvent::Noise), 2);
    EXPECT_EQ(line.accounted(), 3000);
}

} // namespace
