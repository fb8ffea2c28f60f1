#include "pcapwriter.h"

#include <QtEndian>

#include "newfile.h"
#include "systemerror.h"
#include "writeall.h"

namespace {

void put32(QByteArray *bytes, quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes->append(le, 4);
}

void put16(QByteArray *bytes, quint16 value)
{
    char le[2];
    qToLittleEndian(value, le);
    bytes->append(le, 2);
}

} // namespace

QByteArray PcapWriter::header()
{
    QByteArray bytes;
    put32(&bytes, 0xA1B2C3D4); // microsecond times, written little-endian
    put16(&bytes, 2);
    put16(&bytes, 4);
    put32(&bytes, 0); // times in UTC
    put32(&bytes, 0);
    put32(&bytes, 65535); // longest packet kept
    put32(&bytes, kLinkTypeUser0);
    return bytes;
}

QByteArray PcapWriter::packet(const QByteArray &frame, qint64 epochUs)
{
    QByteArray bytes;
    put32(&bytes, quint32(epochUs / 1000000));
    put32(&bytes, quint32(epochUs % 1000000));
    put32(&bytes, quint32(frame.size()));
    put32(&bytes, quint32(frame.size()));
    bytes.append(frame);
    return bytes;
}

bool PcapWriter::open(const QString &path, QString *error)
{
    m_path = path == QLatin1String("-") ? QStringLiteral("standard output") : path;
    bool stream = false;
    const int fd = openLogFile(path, &stream, error);
    if (fd < 0)
        return false;
    if (!m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_path, m_file.errorString());
        return false;
    }
    if (!write(header())) {
        *error = m_error;
        return false;
    }
    return true;
}

bool PcapWriter::append(const QByteArray &frame, qint64 epochUs)
{
    return m_error.isEmpty() && write(packet(frame, epochUs));
}

// Straight to the file, unbuffered, so that a failure says its reason (a
// full disk) rather than the buffer's "Unknown error".
bool PcapWriter::write(const QByteArray &bytes)
{
    if (const int error = writeAll(m_file.handle(), bytes)) {
        m_error = QStringLiteral("cannot write %1: %2").arg(m_path, systemReason(error));
        return false;
    }
    return true;
}
