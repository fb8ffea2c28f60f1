#include "drv_dev_setting.h"

#include <QIODevice>
#include <QtEndian>

#include "qt_compat.h"

namespace {

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A stream string, read as the stream reads it, except that a length the
// stream cannot hold any more is refused before anything is allocated for
// it (the stream itself would set aside up to 2 MB first): the string is
// then empty, the rest of the stream used up and the status ReadPastEnd,
// as the stream leaves them after such a read.
void readString(QDataStream &in, QString &text)
{
    QIODevice *device = in.device();
    uchar raw[4];
    if (in.status() == QDataStream::Ok && device && !device->isSequential()
        && device->peek(reinterpret_cast<char *>(raw), 4) == 4) {
        const quint32 bytes = in.byteOrder() == QDataStream::BigEndian ? qFromBigEndian<quint32>(raw)
                                                                       : qFromLittleEndian<quint32>(raw);
        if (bytes != 0xFFFFFFFFu && qint64(bytes) > device->bytesAvailable() - 4) {
            device->seek(device->size());
            text.clear();
            in.setStatus(QDataStream::ReadPastEnd);
            return;
        }
    }
    in >> text;
}

} // namespace

DriverSetting::DriverSetting(int timeout, int retry, int stationid, int delay)
    : timeout(timeout), retry(retry), stationid(stationid), delay(delay), extraFlag(false)
{
}

DriverSetting::DriverSetting(int timeout, int retry, int stationid, int delay, const QString &, unsigned short)
    : DriverSetting(timeout, retry, stationid, delay)
{
}

DriverSetting::DriverSetting(int timeout, int retry, int stationid, int delay, const QString &, unsigned short,
                             const QString &text, bool flag)
    : timeout(timeout), retry(retry), stationid(stationid), delay(delay), extraText(text), extraFlag(flag)
{
}

void DriverSetting::copy(const DriverSetting &other)
{
    timeout = other.timeout;
    retry = other.retry;
    stationid = other.stationid;
    delay = other.delay;
    extraText = other.extraText;
}

// The runtime's traces end each item with a space, the last one too, as
// Qt 4's QDebug did: the dumps assemble their message whole.
void DriverSetting::dump()
{
    QtCompat::debugMessage(QtCompat::asprintf("timeout: %d retry: %d stationid: %d delay: %d ", timeout, retry,
                                              stationid, delay));
}

QDataStream &operator<<(QDataStream &out, const DriverSetting &setting)
{
    out << setting.timeout << setting.retry << setting.stationid << setting.delay;
    return out;
}

QDataStream &operator>>(QDataStream &in, DriverSetting &setting)
{
    in >> setting.timeout >> setting.retry >> setting.stationid >> setting.delay;
    return in;
}

DeviceSetting::DeviceSetting(device_type type, QString string, int baudrate, int databits, int stopbits, int parity)
    : DeviceSetting(type, string, baudrate, databits, stopbits, parity, 0, QString())
{
}

DeviceSetting::DeviceSetting(device_type type, QString string, int baudrate, int databits, int stopbits,
                             int parity, int extraValue, QString extraText)
    : type(type)
    , string(string)
    , baudrate(baudrate)
    , databits(databits)
    , stopbits(stopbits)
    , parity(parity)
    , extraValue(extraValue)
    , extraText(extraText)
    , linkID(-1)
    , currentIPIndex(0)
{
}

int DeviceSetting::entryIndex(int index) const
{
    if (index == -1)
        index = currentIPIndex;
    return (index >= 0 && index < socketData.size()) ? index : -1;
}

unsigned short DeviceSetting::port(int index) const
{
    const int i = entryIndex(index);
    return i < 0 ? 0 : socketData.at(i).second;
}

QString DeviceSetting::socketIP(int index) const
{
    const int i = entryIndex(index);
    return i < 0 ? QString() : socketData.at(i).first;
}

void DeviceSetting::setPort(unsigned short port, int index)
{
    const int i = entryIndex(index);
    if (i >= 0)
        socketData[i].second = port;
}

void DeviceSetting::setSocketIP(const QString &ip, int index)
{
    const int i = entryIndex(index);
    if (i >= 0)
        socketData[i].first = ip;
}

void DeviceSetting::setCurrentIPIndex(int index)
{
    if (index >= 0 && index < socketData.size())
        currentIPIndex = index;
}

void DeviceSetting::setSocketData(const QList<QPair<QString, QString> > &data)
{
    socketData.clear();
    for (const QPair<QString, QString> &entry : data)
        socketData.append(qMakePair(entry.first, entry.second.toUShort(nullptr, 10)));
}

void DeviceSetting::dump()
{
    const QString text = QtCompat::asprintf("type: %u string: ", quint32(type)) + quoted(string)
                         + QtCompat::asprintf(" baudrate: %d databits: %d stopbits: %d parity: %d linkID: %d"
                                              " current ip: ",
                                              baudrate, databits, stopbits, parity, linkID)
                         + quoted(socketIP(-1)) + QtCompat::asprintf(" current port: %u ", unsigned(port(-1)));
    QtCompat::debugMessage(text);
}

QDataStream &operator<<(QDataStream &out, const DeviceSetting &setting)
{
    out << qint32(setting.type) << setting.string << setting.baudrate << setting.databits << setting.stopbits
        << setting.parity << setting.extraValue << setting.linkID << setting.currentIPIndex
        << quint32(setting.socketData.size());
    for (const QPair<QString, unsigned short> &entry : setting.socketData)
        out << entry.first << quint16(entry.second);
    return out;
}

QDataStream &operator>>(QDataStream &in, DeviceSetting &setting)
{
    qint32 type = 0;
    in >> type;
    setting.type = device_type(type);
    readString(in, setting.string);
    in >> setting.baudrate >> setting.databits >> setting.stopbits >> setting.parity >> setting.extraValue
        >> setting.linkID;

    qint32 storedIndex = 0;
    quint32 count = 0;
    in >> storedIndex >> count;

    // Entries are appended one by one, so a hostile count cannot make the
    // reader allocate more than the stream really holds.
    QList<QPair<QString, unsigned short> > list;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString ip;
        quint16 port = 0;
        readString(in, ip);
        in >> port;
        list.append(qMakePair(ip, port));
        if (in.atEnd())
            break;
    }
    setting.socketData = list;
    // Checked against the list just read, so that writing a record and
    // reading it back restores its current entry.
    setting.setCurrentIPIndex(storedIndex);
    return in;
}
