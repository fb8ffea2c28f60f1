// Micro-benchmarks: CRCs, request building and whole transactions through an
// in-memory port, with the heap calls each iteration makes.
#include <sys/prctl.h>

#include <benchmark/benchmark.h>

#include <QVariant>

#include "alloc_counter.h"
#include "communicatorcommand.h"
#include "lib_crc.h"
#include "modbus_rtu_frame.h"
#include "replay_port.h"
#include "teco_servo.h"
#include "tools.h"

namespace {

const int kCrcBlock = 256;

QByteArray sampleBytes(int n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        bytes[i] = char(i * 37 + 11);
    return bytes;
}

QByteArray withModbusCrc(QByteArray frame)
{
    const unsigned short crc = ModbusRTUSlaveCRC(reinterpret_cast<const unsigned char *>(frame.constData()),
                                                 unsigned(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

// A drive's answer to a read: station 1, function, byte count, data, CRC.
QByteArray readAnswer(unsigned char function, int dataBytes)
{
    QByteArray frame;
    frame.append(char(1));
    frame.append(char(function));
    frame.append(char(dataBytes & 0xFF));
    frame.append(sampleBytes(dataBytes));
    return withModbusCrc(frame);
}

// Heap calls per iteration, measured over the timed loop.
class AllocScope
{
public:
    explicit AllocScope(benchmark::State &state) : m_state(state), m_start(AllocCounter::current()) {}
    ~AllocScope()
    {
        const AllocCounter::Counts end = AllocCounter::current();
        const double n = double(qMax<benchmark::IterationCount>(m_state.iterations(), 1));
        m_state.counters["allocs"] = double(end.allocations - m_start.allocations) / n;
    }

private:
    benchmark::State &m_state;
    AllocCounter::Counts m_start;
};

// ---- CRCs -------------------------------------------------------------------

void BM_ModbusCrc(benchmark::State &state)
{
    const QByteArray data = sampleBytes(kCrcBlock);
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    for (auto _ : state)
        benchmark::DoNotOptimize(ModbusRTUSlaveCRC(bytes, unsigned(data.size())));
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_ModbusCrc);

template <typename Crc, typename Update>
void runUpdater(benchmark::State &state, Crc start, Update update)
{
    const QByteArray data = sampleBytes(kCrcBlock);
    for (auto _ : state) {
        Crc crc = start;
        for (const char c : data)
            crc = update(crc, c);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}

void BM_update_crc_16(benchmark::State &s)
{
    runUpdater<unsigned short>(s, 0, update_crc_16);
}
void BM_update_crc_kermit(benchmark::State &s)
{
    runUpdater<unsigned short>(s, 0, update_crc_kermit);
}
void BM_update_crc_dnp(benchmark::State &s)
{
    runUpdater<unsigned short>(s, 0, update_crc_dnp);
}
void BM_update_crc_ccitt(benchmark::State &s)
{
    runUpdater<unsigned short>(s, 0xFFFF, update_crc_ccitt);
}
void BM_update_crc_32(benchmark::State &s)
{
    runUpdater<unsigned int>(s, 0xFFFFFFFFu, update_crc_32);
}
BENCHMARK(BM_update_crc_16);
BENCHMARK(BM_update_crc_kermit);
BENCHMARK(BM_update_crc_dnp);
BENCHMARK(BM_update_crc_ccitt);
BENCHMARK(BM_update_crc_32);

void BM_update_crc_sick(benchmark::State &state)
{
    const QByteArray data = sampleBytes(kCrcBlock);
    for (auto _ : state) {
        unsigned short crc = 0;
        char prev = 0;
        for (const char c : data) {
            crc = update_crc_sick(crc, c, prev);
            prev = c;
        }
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_update_crc_sick);

template <typename Sum>
void runBlock(benchmark::State &state, Sum sum)
{
    const QByteArray data = sampleBytes(kCrcBlock);
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    for (auto _ : state)
        benchmark::DoNotOptimize(sum(bytes, data.size()));
    state.SetBytesProcessed(state.iterations() * data.size());
}

void BM_CRC16Calculate(benchmark::State &s)
{
    runBlock(s, CRC16Calculate);
}
void BM_UInt8CheckSum(benchmark::State &s)
{
    runBlock(s, UInt8CheckSum);
}
void BM_UShortCheckSum(benchmark::State &s)
{
    runBlock(s, UShortCheckSum);
}
void BM_XorUInt8CheckSum(benchmark::State &s)
{
    runBlock(s, XorUInt8CheckSum);
}
BENCHMARK(BM_CRC16Calculate);
BENCHMARK(BM_UInt8CheckSum);
BENCHMARK(BM_UShortCheckSum);
BENCHMARK(BM_XorUInt8CheckSum);

// ---- Request building -------------------------------------------------------

void BM_BuildReadRequest(benchmark::State &state)
{
    AllocScope allocs(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(ModbusRTUSlaveBuildReadDevicesRequest(1, 3, 100, 125));
}
BENCHMARK(BM_BuildReadRequest);

void BM_BuildFn16Request(benchmark::State &state)
{
    const QByteArray data = sampleBytes(246);
    AllocScope allocs(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(ModbusRTUSlaveBuildFn16Request(1, 100, 123, data));
}
BENCHMARK(BM_BuildFn16Request);

// ---- Whole transactions through an in-memory port --------------------------

void BM_ReadWords(benchmark::State &state)
{
    const int count = int(state.range(0));
    ReplayPort port(readAnswer(3, 2 * count));
    DriverTecoServo driver;
    const QByteArray area("HR");
    {
        AllocScope allocs(state);
        for (auto _ : state)
            benchmark::DoNotOptimize(driver.readWords(&port, area, 0, count));
    }
    if (driver.hasError())
        state.SkipWithError(driver.getLastError().toLatin1().constData());
}
BENCHMARK(BM_ReadWords)->Arg(1)->Arg(10)->Arg(125);

void BM_WriteWords(benchmark::State &state)
{
    const int count = int(state.range(0));
    ReplayPort port(withModbusCrc(QByteArray::fromHex("0110000000") + char(count)));
    DriverTecoServo driver;
    const QByteArray data = sampleBytes(2 * count);
    {
        AllocScope allocs(state);
        for (auto _ : state)
            benchmark::DoNotOptimize(driver.writeWords(&port, 0, data));
    }
    if (driver.hasError())
        state.SkipWithError(driver.getLastError().toLatin1().constData());
}
BENCHMARK(BM_WriteWords)->Arg(123);

void BM_ReadBits(benchmark::State &state)
{
    const int count = int(state.range(0));
    ReplayPort port(readAnswer(1, (count + 7) / 8));
    DriverTecoServo driver;
    const QByteArray area("DO");
    {
        AllocScope allocs(state);
        for (auto _ : state)
            benchmark::DoNotOptimize(driver.readDIDOs(&port, area, 0, count));
    }
    if (driver.hasError())
        state.SkipWithError(driver.getLastError().toLatin1().constData());
}
BENCHMARK(BM_ReadBits)->Arg(2008);

// A whole command as the runtime issues it: dispatch, the zero-length
// frame-delay sleep before the attempt, the transaction. Argument: the
// calling thread's timer slack in ns (50000 is Linux's default).
void BM_ReadCommand(benchmark::State &state)
{
    const int count = 125;
    ReplayPort port(readAnswer(3, 2 * count));
    DriverTecoServo driver;
    const CommunicatorCommand cmd(CommunicatorCommand::Word, count, QStringLiteral("HR1"));
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(state.range(0)), 0, 0, 0);
    {
        AllocScope allocs(state);
        for (auto _ : state)
            benchmark::DoNotOptimize(driver.read(&port, cmd));
    }
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
    if (driver.hasError())
        state.SkipWithError(driver.getLastError().toLatin1().constData());
}
BENCHMARK(BM_ReadCommand)->Arg(50000)->Arg(1)->UseRealTime();

// The frame-delay sleep alone: HRSleep(0).
void BM_HRSleepZero(benchmark::State &state)
{
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(state.range(0)), 0, 0, 0);
    for (auto _ : state)
        HRSleep(0);
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
}
BENCHMARK(BM_HRSleepZero)->Arg(50000)->Arg(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
