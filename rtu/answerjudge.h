#ifndef ANSWERJUDGE_H
#define ANSWERJUDGE_H

#include <QByteArray>
#include <QList>

#include "linedebt.h"
#include "rtuanswer.h"

// What the port has seen on its line since it was made.
struct PortCounters
{
    qint64 requests = 0;            // requests sent
    qint64 lateAnswers = 0;         // whole frames dropped: no answer to the request awaited
    qint64 stepChecks = 0;          // reads sent to prove a drive in step (stepCheckFor)
    qint64 uncertainAnswers = 0;    // answers taken that an earlier request's could look like
    qint64 noiseBytes = 0;          // bytes dropped that were no frame
    qint64 garbledEchoes = 0;       // requests that came back changed (local echo)
    qint64 otherStationAnswers = 0; // whole frames from a station no request of ours was owed by
    qint64 uncertainEchoes = 0;     // answers taken that may have been the request's own echo
    qint64 neverSilent = 0;         // answers cut at their bound: the line never fell silent
    qint64 earlyFrames = 0;         // frames that came before the request's answer could
};

// How the line's echo disagrees with the port's local-echo setting.
enum class EchoFault {
    None,
    Unexpected, // our requests come back, and the setting is off
    Missing     // the setting is on, and they do not
};

// A frame dropped as a late answer.
struct LateAnswer
{
    int station = 0;
    // From the request it answers, as far as that can be known (Modbus RTU
    // has no transaction number: this is the earliest request still owed an
    // answer that this frame fits), or from the station's answer before it
    // if that came later; -1 when no request of ours was owed one.
    qint64 latenessNs = -1;
    // None was owed, and the frame fits the request the station answered
    // last: the answer taken for that one may have been an earlier one's.
    bool doubtsLastAnswer = false;
};

// A whole frame from a station that no request of ours owed an answer:
// another drive answered (a wrong station number, the wiring). Booked to
// the station asked last (-1: none yet), never as a late answer.
struct OtherStationAnswer
{
    int station = 0;
    int askedStation = -1;
};

// What the judge made of a stretch of bytes, or of the line, in order.
struct JudgeEvent
{
    enum Kind {
        Late,            // length bytes: a whole frame, late (see LateAnswer)
        OtherStation,    // length bytes: a whole frame of a station owed nothing
        Noise,           // length bytes that begin no frame
        Echo,            // length bytes: the request's own echo, read back (local echo)
        Garbled,         // length bytes: the request came back changed (heard)
        UncertainAnswer, // the answer taken may be owed to an earlier request
        UncertainEcho,   // the answer taken may be the request's own echo
        Fault,           // the echo disagrees with the setting (fault); what is in is dropped
        NeverSilent,     // bytes kept coming until the answer's bound: length of them since
                         // the request, over latenessNs from its end on the wire
        Early            // the Late frame that follows came before the answer could
    };
    explicit JudgeEvent(Kind k) : kind(k) {}
    Kind kind;
    int length = 0;
    int station = 0;
    int askedStation = -1;
    qint64 latenessNs = -1;
    bool doubtsLastAnswer = false;
    EchoFault fault = EchoFault::None;
    QByteArray heard;
};

// One step of judging: done, or more bytes are wanted until deadlineNs,
// dueBytes of them still to come of a frame (0: unknown).
struct JudgeStep
{
    bool done = true;
    qint64 deadlineNs = 0;
    int dueBytes = 0;
};

// How the wait a step asked for ended.
enum class WaitEnd { None, Bytes, Quiet, Stopped };

// AnswerJudge: what the bytes on a Modbus RTU master's line are, before
// any of them is handed to the driver: the answer to the request just sent,
// its echo, a late answer, another station's, noise.
// Fed: the requests sent, the bytes received and the times they came
// (nanoseconds on one monotonic clock); it opens no device, reads no clock.
// Called by: SerialPort (port/), the model test and the fuzz targets.
// Blocks: never; a JudgeStep says what to wait for and until when.
// Thread: its caller's, one at a time.
// Rules: docs/architecture.md, "The judgement's rules"; each is tested in
// tests/rtu (cases, and invariants over a million random sequences).
class AnswerJudge
{
public:
    struct Settings
    {
        qint64 answerTimeoutNs = 500000000;
        qint64 interCharacterNs = 20000000;
        qint64 silentIntervalNs = 0;
        qint64 characterNs = 0;
        bool localEcho = false;
        bool knownSilent = false;
        bool keepsNoTime = false; // a pseudo-terminal: arrival times tell nothing
        // A network link: a far end's copy of an answer can come after the
        // next request with nothing to tell it by, so every answer taken
        // stays owed (no hold) and a look-alike request gets a step check.
        bool network = false;
        // The link matches answers to requests (Modbus TCP's transaction
        // number) and drops the others: nothing is ever owed.
        bool matchedAnswers = false;
        // The wait for an answer's first byte, from when the request's last
        // character is on the wire; -1: the answer time-out from sending.
        qint64 firstByteNs = -1;
    };
    // What an answer's bound allows beyond its time on the wire: a USB
    // adapter hands bytes over up to its latency timer (16 ms) late.
    static constexpr qint64 kAnswerSlackNs = 20000000;

    void configure(const Settings &settings) { m_set = settings; }
    const Settings &settings() const { return m_set; }
    // A line just opened: nothing sent, nothing owed, nothing in.
    void reset(qint64 nowNs);
    void takeDebt(const LineDebt &debt, qint64 nowNs);
    LineDebt debt(qint64 nowNs) const;

    qint64 lateHorizonNs() const { return 2 * m_set.answerTimeoutNs; }
    qint64 owedMemoryNs() const { return owedMemoryFor(m_set.answerTimeoutNs); }
    static qint64 owedMemoryFor(qint64 answerTimeoutNs);

    // Before a request: forgets what is owed too long, settles what came
    // unasked (with dropRest, bytes that are no whole frame are noise), and
    // says when next may go out.
    void forgetOld(qint64 nowNs);
    void settle(bool dropRest);
    qint64 clearToSendAt(const RtuRequest &next) const;
    // A drive answers in the order it is asked. Before a request whose
    // answer would look like one its station still owes another request (a
    // repeat's answers the same question): a read whose answer
    // cannot be taken for any owed one nor for next's, asked first; once its
    // answer has come the drive is in step, and whatever came before it was
    // late. Unknown when next needs no such check.
    RtuRequest stepCheckFor(const RtuRequest &next) const;
    void cleared() { m_quietUntilNs = 0; }
    // onWireUntilNs: when the request's last character is on the wire, as
    // its length and the baud rate say (a USB adapter's or a pseudo-
    // terminal's tcdrain() returns sooner).
    void requestSent(const RtuRequest &request, qint64 nowNs, qint64 onWireUntilNs = 0);

    void bytesReceived(const char *data, int size, qint64 nowNs);
    // readEcho() and frameAnswer() go step by step: one not done asks for a
    // wait, and is called again with how it ended (WaitEnd::None the first
    // time), what came fed in through bytesReceived() before.
    // Local echo: reads the request back; *ok once done says it came whole.
    JudgeStep readEcho(WaitEnd last, bool *ok);
    // Frames the answer to the request sent: afterwards input() begins with
    // the bytes to hand over.
    JudgeStep frameAnswer(WaitEnd last);
    // For a request not known: the wait for wanted bytes.
    JudgeStep topUp(int wanted, qint64 nowNs) const;
    // n bytes of input handed over; an answer that ended short at nowNs may
    // still have its rest under way: the next request waits a time-out.
    void handOver(int n) { m_input.remove(0, n); }
    void answerEnded(qint64 nowNs) { m_quietUntilNs = nowNs + m_set.answerTimeoutNs; }
    void dropInput() { m_input.clear(); }

    const QByteArray &input() const { return m_input; }
    const RtuRequest &request() const { return m_request; }
    bool isFramed() const { return m_framed; }
    bool echoGarbled() const { return m_echoGarbled; }
    // The request's answer was cut at its bound (JudgeEvent::NeverSilent).
    bool neverSilent() const { return m_neverSilent; }
    // The latest the answer to the request sent may end.
    qint64 answerBoundNs() const;
    EchoFault echoFault() const { return m_echoFault; }
    bool shownSilent() const { return m_shownSilent; }
    void setShownSilent(bool on) { m_shownSilent = on; }
    bool isSilent() const { return m_set.knownSilent || m_shownSilent; }
    qint64 lastActivityNs() const { return m_lastActivityNs; }
    int owedCount() const { return m_owed.size(); }
    // Where the wire's time is not seen, a far end that sends each answer
    // twice, the copy after the next request left, is one answer ahead from
    // then on, and shows nothing until it has an answer too many: true once
    // answers were taken for two look-alike requests to a station in a row.
    bool mayHideAnAnswerTooMany() const { return m_lookAlikeInRow; }
    QList<JudgeEvent> takeEvents();

private:
    enum class Pending { None, Echo, OwnEcho, Unclear, Rest, Itself };
    struct OwedAnswer
    {
        RtuRequest request;
        qint64 sentNs;      // when this request left
        qint64 holdUntilNs; // look-alike requests wait until then (sentNs: not at all)
        int carried;        // times the debt was carried on
    };

    JudgeStep waitFor(Pending pending, qint64 deadlineNs, int dueBytes);
    JudgeStep waitBounded(Pending pending, qint64 deadlineNs, int dueBytes);
    JudgeStep frameLoop();
    JudgeStep done();
    JudgeStep judgeItself(WaitEnd last);
    qint64 firstByteDeadlineNs() const;
    bool echoIsTellable() const;
    int ownEchoSoFar() const;
    bool isOwedAnswer(const char *frame, int length) const;
    bool owesStation(int station) const;
    bool isEchoBeforeAnswer(int length) const;
    bool answerFollows(int length) const;
    bool mayBeOwnEcho(int length) const;
    void failEcho(EchoFault fault, bool owed);
    void noteNoAnswer();
    void noteNeverSilent();
    void noteAnswerTaken(int length);
    void owe(const RtuRequest &request, int carried, bool hold = true, qint64 sentNs = -1);
    qint64 arrivedByNs(int length) const;
    bool cameTooEarly(int length) const;
    void dropLateFrame(int length);
    void dropNoise(int length);
    void note(const JudgeEvent &event) { m_events.append(event); }

    Settings m_set;
    RtuRequest m_request;          // the request just sent
    bool m_framed = true;          // its answer is framed (or none is awaited)
    bool m_echoGarbled = false;    // it came back changed: not answered
    bool m_neverSilent = false;    // its answer was cut at the bound
    bool m_pendingBounded = false; // the wait asked for ends at the bound
    bool m_shownSilent = false;    // an answer came with no echo before it
    bool m_echoDoubt = false;      // an answer was left in doubt: later ones are too
    EchoFault m_echoFault = EchoFault::None;
    RtuRequest m_tookItself; // the last request taken an answer identical to it
    QByteArray m_input;      // received, neither handed over nor judged away
    qint64 m_requestSentNs = 0;
    qint64 m_requestOnWireNs = 0;
    qint64 m_lastActivityNs = 0; // last byte on the line, either way
    qint64 m_lastByteNs = 0;     // last byte received
    int m_receivedSinceSend = 0;
    qint64 m_quietUntilNs = 0;           // a short answer's rest may come until then
    QList<OwedAnswer> m_owed;            // oldest first
    qint64 m_lastFrameNs[256] = {};      // by station, its last whole frame
    qint64 m_outOfStepUntilNs[256] = {}; // by station: it sent an answer none was owed
    RtuRequest m_lastTaken[256];         // by station, the request it answered last
    RtuRequest m_takenBefore[256];       // and the one before
    qint64 m_lastTakenSentNs[256] = {};
    bool m_lookAlikeInRow = false;
    struct Arrival
    {
        qint64 endAt; // the bytes received up to here
        qint64 atNs;  // had come by then
    };
    QList<Arrival> m_arrivals; // of the input's bytes, oldest first
    qint64 m_receivedTotal = 0;
    Pending m_pending = Pending::None;
    bool m_lineQuiet = false;
    bool m_echoStarted = false;
    qint64 m_pendingDeadlineNs = 0;
    qint64 m_nowNs = 0;     // the latest time the judge was told of
    int m_itselfLength = 0; // judgeItself's frame, and when it came
    qint64 m_itselfArrivedNs = 0;
    QList<JudgeEvent> m_events;
};

#endif // ANSWERJUDGE_H
