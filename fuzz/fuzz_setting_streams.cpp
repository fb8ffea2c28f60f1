// The DriverSetting and DeviceSetting stream readers on arbitrary streams,
// in either byte order and with any stream version. A record read from a
// stream that ended well must write and read back to itself; a hostile
// string length or entry count must not allocate beyond what the stream
// holds (scripts/fuzz caps single allocations with -malloc_limit_mb).
#include <QBuffer>
#include <QDataStream>

#include "drv_dev_setting.h"
#include "fuzz_input.h"

namespace {

void prepare(QDataStream &stream, uint8_t how)
{
    stream.setByteOrder(how & 1 ? QDataStream::LittleEndian : QDataStream::BigEndian);
    stream.setVersion(how & 2 ? QDataStream::Qt_4_7 : QDataStream::Qt_5_15);
}

bool sameRecord(const DeviceSetting &a, const DeviceSetting &b)
{
    return a.type == b.type && a.string == b.string && a.string.isNull() == b.string.isNull()
           && a.baudrate == b.baudrate && a.databits == b.databits && a.stopbits == b.stopbits
           && a.parity == b.parity && a.extraValue == b.extraValue && a.linkID == b.linkID
           && a.currentIPIndex == b.currentIPIndex && a.socketData == b.socketData;
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
    const uint8_t how = in.u8();
    QByteArray bytes = in.rest();

    QDataStream stream(&bytes, QIODevice::ReadOnly);
    prepare(stream, how);
    DriverSetting driverSetting(500, 3, 1, 0);
    if (how & 4)
        stream >> driverSetting;
    DeviceSetting device(DEVICE_TYPE_SERIAL, QStringLiteral("COM2"), 9600, 8, 0, 2);
    stream >> device;

    // The record's own operations on whatever the stream left.
    device.port(-1);
    device.socketIP(-1);
    device.setPort(502, -1);
    device.setSocketIP(QStringLiteral("10.0.0.1"), int(how) - 128);
    device.setCurrentIPIndex(int(how) - 4);
    device.dump();
    driverSetting.dump();
    if (stream.status() != QDataStream::Ok)
        return 0;

    QByteArray written;
    {
        QDataStream out(&written, QIODevice::WriteOnly);
        prepare(out, how);
        out << device;
    }
    QDataStream back(written);
    prepare(back, how);
    DeviceSetting copy(DEVICE_TYPE_SERIAL, QString(), 0, 0, 0, 0);
    back >> copy;
    if (back.status() != QDataStream::Ok || !sameRecord(device, copy))
        fuzzFailure("DeviceSetting does not read back what it wrote");
    return 0;
}
