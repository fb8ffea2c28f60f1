// The driver's answer handling: a few commands of every read and write kind
// (special words and the broadcast included) on one driver object, each
// answered by the fuzz input through FuzzPort, with the station number and
// the retry count also taken from the input.
#include <climits>

#include "communicatorcommand.h"
#include "drivertexts.h"
#include "fuzz_input.h"
#include "fuzz_port.h"
#include "teco_servo.h"

namespace {

const char *const AREAS[] = {"HR", "FN6HR", "DO", "FN5DO", "DI", "IR", "hr", "Fn6Hr", "fn5do", "X"};
const int DATA_TYPES[] = {0, 1, 2, 3, 5, 6, 2, 2, 0, 4, 7, -1};
const int ODD_STATIONS[] = {0, 255, 256, 300, -1, 247, 1000, INT_MIN, INT_MAX, 2, 3, 1, 1, 1, 1, 1};

int pickStation(FuzzInput &in)
{
    const uint8_t s = in.u8();
    return s < 240 ? 1 + s % 3 : ODD_STATIONS[s - 240];
}

QString pickAddress(FuzzInput &in)
{
    QString text = QLatin1String(AREAS[in.u8() % (sizeof AREAS / sizeof *AREAS)]);
    switch (in.u8() % 5) {
    case 0: // the special words and their neighbours
        text += QString::number(59999 + in.u8() % 13);
        break;
    case 1: // the top of the address space
        text += QString::number(65530 + in.u8() % 8);
        break;
    case 2:
        text += QString::number(1 + in.u8());
        break;
    case 3:
        text += QString::number(in.u16());
        break;
    default: // no number at all
        break;
    }
    const uint8_t bit = in.u8();
    if (bit & 0x80)
        text += QStringLiteral(".%1").arg(bit % 24);
    if (bit & 0x40)
        text += QStringLiteral("SW");
    return text;
}

int pickCount(FuzzInput &in)
{
    switch (in.u8() % 6) {
    case 0:
        return in.u8() % 17;
    case 1:
        return 118 + in.u8() % 12; // the register limits
    case 2:
        return 245 + in.u8() % 12; // the byte limits
    case 3:
        return 1960 + in.u8() % 60; // the bit limits
    case 4:
        return in.i32();
    default:
        return 1;
    }
}

QByteArray pickData(FuzzInput &in)
{
    const uint8_t length = in.u8();
    const int n = length < 200 ? length % 40 : (length - 200) * 40;
    QByteArray data = in.bytes(size_t(n));
    data.append(QByteArray(n - data.size(), '\x01'));
    return data;
}

void checkOutcome(DriverTecoServo &driver, const CommunicatorCommand &cmd, int station, bool write, const QByteArray *result)
{
    if (driver.hasError()) {
        if (!drivertexts::isDefinedFailure(driver.getLastError(), cmd, station, write))
            fuzzFailure("undefined failure text:", driver.getLastError() + QStringLiteral(" for ") + cmd.address);
        return;
    }
    if (result && result->size() != drivertexts::expectedReadSize(cmd))
        fuzzFailure("read of the wrong size:", cmd.address);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    DriverTecoServo driver;
    FuzzPort port(in);
    for (int i = 0; i < 8 && !in.atEnd(); ++i) {
        port.station = pickStation(in);
        port.retries = int(in.u8() % 5) - 1;
        const bool write = in.flag();
        const int type = DATA_TYPES[in.u8() % (sizeof DATA_TYPES / sizeof *DATA_TYPES)];
        const QString address = pickAddress(in);
        const CommunicatorCommand cmd(type, pickCount(in), address);
        if (write) {
            const QByteArray bytes = pickData(in);
            driver.write(&port, cmd, bytes);
            checkOutcome(driver, cmd, port.station, true, nullptr);
        } else {
            const QByteArray result = driver.read(&port, cmd);
            checkOutcome(driver, cmd, port.station, false, &result);
        }
    }
    return 0;
}
