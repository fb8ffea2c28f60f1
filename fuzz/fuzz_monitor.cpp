// servoctl monitor's framer and pairer on whatever a listener may read:
// noise, a wrong baud rate, frames cut anywhere, at any times. No frame may
// grow past the longest RTU frame, every transaction must describe itself,
// and a frame whose CRC passes must never be shown as noise.
#include "fuzz_input.h"
#include "linesettings.h"
#include "monitorframer.h"
#include "monitorpairer.h"
#include "monitorreport.h"

namespace {

void take(const QList<HeardFrame> &frames, MonitorPairer *pairer, QList<Transaction> *done)
{
    for (const HeardFrame &frame : frames) {
        if (frame.bytes.isEmpty() || frame.bytes.size() > MonitorFramer::maxFrame())
            fuzzFailure("a frame of no byte, or longer than any RTU frame");
        pairer->add(frame, done);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    LineSettings line;
    line.baudRate = (in.u8() & 1) ? 115200 : 9600;
    const bool pty = in.flag();
    const MonitorJudging judging{line.characterTimeNs(), line.silentIntervalNs(), !pty,
                                 pty ? line.silentIntervalNs() / 2 : 0};
    MonitorFramer framer(judging.characterNs, judging.silentNs, pty);
    MonitorPairer pairer(qint64(in.u16()) * 1000000);
    MonitorStats stats(judging);
    qint64 now = 0;
    QList<Transaction> done;
    while (!in.atEnd()) {
        now += qint64(in.u16()) * 1000; // microseconds since the last read
        const QByteArray bytes = in.bytes(in.u8() & 0x3F);
        QList<HeardFrame> frames;
        framer.takeAtSilence(now, &frames);
        framer.append(bytes.constData(), bytes.size(), now, &frames);
        take(frames, &pairer, &done);
        pairer.idle(now, &done);
    }
    QList<HeardFrame> frames;
    framer.takeAtSilence(now, &frames, true);
    take(frames, &pairer, &done);
    pairer.finish(&done);
    for (const Transaction &t : qAsConst(done)) {
        if (t.kind == Transaction::Noise && t.answer.crcOk)
            fuzzFailure("a whole frame shown as noise");
        if (describeTransaction(t, judging, nullptr, ValueFormat::Hex).isEmpty())
            fuzzFailure("a transaction without a text");
        stats.add(t);
    }
    if (stats.table().isEmpty())
        fuzzFailure("no statistics");
    return 0;
}
