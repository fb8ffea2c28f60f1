// The simulated drive line's request parser: arbitrary bytes arrive in
// arbitrary chunks, the framer splits them into requests (or gives up at a
// silence), and the line executes and answers them with faults drawn from a
// seed in the input. Every answer without an injected damage must be a
// whole frame with a correct CRC, from the station asked.
#include "fuzz_input.h"
#include "modbuscrc.h"
#include "rtuframer.h"
#include "simline.h"

namespace {

// Small areas, so that requests run into their ends too.
SimLine &line()
{
    static SimLine drives({1, 2, 247}, SimAreaSizes{300, 200, 400, 100});
    return drives;
}

void handle(const QByteArray &frame)
{
    const SimAnswer answer = line().process(frame);
    if (answer.frame.isEmpty())
        return;
    if (answer.fault == FaultPlan::Twin && hasValidModbusCrc(answer.frame))
        fuzzFailure("a collision passed the CRC check");
    const bool damaged = answer.fault == FaultPlan::Corrupt || answer.fault == FaultPlan::Truncate
                         || answer.fault == FaultPlan::Twin
                         || (answer.fault == FaultPlan::Noise && answer.noiseBefore.isEmpty());
    if (damaged)
        return;
    if (!hasValidModbusCrc(answer.frame))
        fuzzFailure("answer with a wrong CRC");
    if (answer.fault != FaultPlan::WrongStation && answer.frame.at(0) != frame.at(0))
        fuzzFailure("answer from another station");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    line();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    FaultPlan plan;
    const uint8_t faults = in.u8();
    if (faults & 1) {
        for (int kind = FaultPlan::Drop; kind < FaultPlan::KindCount; ++kind)
            plan.rate[kind] = 0.1;
    }
    line().setFaults(plan, in.u32());

    RtuFramer framer;
    while (!in.atEnd()) {
        const uint8_t how = in.u8();
        if (how == 0xFF) {
            const QByteArray rest = framer.takeAtSilence();
            if (rest.size() > RtuFramer::maxBuffered())
                fuzzFailure("framer held more than its limit");
            handle(rest);
            continue;
        }
        // A chunk as the line delivers it, or a request with its CRC made
        // right so that the drives' own checks get exercised.
        QByteArray chunk = in.bytes(how % 64);
        if (how & 0x80)
            chunk = withCrc(chunk);
        framer.append(chunk.constData(), chunk.size());
        QByteArray frame;
        while (framer.takeFrame(&frame))
            handle(frame);
    }
    return 0;
}
