// The address parser through both dispatches: arbitrary address texts, data
// types and counts, read and written on a drive that answers every request
// correctly (the simulated drive, wired straight to the port).
#include <algorithm>
#include <cstring>

#include <QByteArray>
#include <QVariant>

#include "abstractdeviceinterface.h"
#include "communicatorcommand.h"
#include "drivertexts.h"
#include "fuzz_input.h"
#include "simline.h"
#include "teco_servo.h"

namespace {

const int STATION = 1;

// Hands each request to the simulated line and replays its answer.
class LoopbackPort : public AbstractDeviceInterface
{
public:
    explicit LoopbackPort(SimLine *line) : m_line(line) {}

    int receive(char *buffer, int maxLength) override
    {
        const int n = std::min(m_answer.size(), std::max(maxLength, 0));
        std::memcpy(buffer, m_answer.constData(), size_t(n));
        m_answer.remove(0, n);
        return n;
    }
    int send(const char *data, int length) override
    {
        m_answer = m_line->process(QByteArray(data, length)).frame;
        return length;
    }
    bool setOption(int, const QVariant &) override { return true; }
    int retryCount() override { return 1; }
    int stationId() override { return STATION; }
    int frameDelay() override { return 0; }

private:
    SimLine *m_line;
    QByteArray m_answer;
};

SimLine &line()
{
    static SimLine drives({STATION});
    return drives;
}

// Address text from the input's bytes, read as Latin-1, UTF-8 or UTF-16.
QString addressText(FuzzInput &in, uint8_t how)
{
    const QByteArray raw = in.bytes(in.u8() % 48);
    switch (how % 3) {
    case 0:
        return QString::fromLatin1(raw);
    case 1:
        return QString::fromUtf8(raw);
    default:
        return QString(reinterpret_cast<const QChar *>(raw.constData()), raw.size() / 2);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    line();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    DriverTecoServo driver;
    LoopbackPort port(&line());
    while (!in.atEnd()) {
        const uint8_t how = in.u8();
        // Small data types and counts most of the time, any 32-bit value else.
        const int type = how & 0x80 ? in.i32() : int(in.u8() % 8);
        const int count = how & 0x40 ? in.i32() : int(in.u16() % 2100);
        const CommunicatorCommand cmd(type, count, addressText(in, how));

        const QByteArray result = driver.read(&port, cmd);
        if (driver.hasError()) {
            if (!drivertexts::isDefinedFailure(driver.getLastError(), cmd, STATION, false))
                fuzzFailure("undefined read failure text:", driver.getLastError());
        } else if (result.size() != drivertexts::expectedReadSize(cmd)) {
            fuzzFailure("read of the wrong size:", cmd.address);
        }

        QByteArray bytes = in.bytes(in.u8());
        if (how & 0x20)
            bytes = bytes.repeated(8); // long enough to cross the write limits
        driver.write(&port, cmd, bytes);
        if (driver.hasError() && !drivertexts::isDefinedFailure(driver.getLastError(), cmd, STATION, true))
            fuzzFailure("undefined write failure text:", driver.getLastError());
    }
    return 0;
}
