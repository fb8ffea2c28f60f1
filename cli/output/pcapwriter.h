#ifndef SERVOCTL_PCAPWRITER_H
#define SERVOCTL_PCAPWRITER_H

#include <QByteArray>
#include <QFile>
#include <QString>

// A capture file in the classic pcap format, microsecond times, link type
// USER0 (147): each packet one bare RTU frame as heard on the line, CRC
// included, stamped when it began. Wireshark decodes it as Modbus RTU once
// USER0 is mapped to the "mbrtu" protocol (docs/servoctl.md says how).
class PcapWriter
{
public:
    static const quint32 kLinkTypeUser0 = 147;

    // Creates path (a new file), or writes into a fifo, or to standard
    // output for "-", as checkLogPath() allows; false with *error set.
    bool open(const QString &path, QString *error);
    // Each packet is written at once, so that a reader at the other end of
    // a pipe (wireshark -k -i -) shows it as it is heard. False once a
    // write has failed: errorString() says why ("No space left on device").
    bool append(const QByteArray &frame, qint64 epochUs);
    QString errorString() const { return m_error; }

    // The file's bytes before the packets, and one packet: for tests.
    static QByteArray header();
    static QByteArray packet(const QByteArray &frame, qint64 epochUs);

private:
    bool write(const QByteArray &bytes);

    QString m_path;
    QFile m_file;
    QString m_error;
};

#endif // SERVOCTL_PCAPWRITER_H
