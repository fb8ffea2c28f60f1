#ifndef MBAP_H
#define MBAP_H

#include <QByteArray>
#include <QString>

// Modbus TCP's frame: the MBAP header (transaction, protocol 0, the length
// of what follows, the unit) and the PDU. It carries the same unit and PDU
// as an RTU frame; the CRC is dropped going out and added back coming in.
// Pure: fed bytes, it reads no socket.
struct MbapFrame
{
    quint16 transaction = 0;
    quint8 unit = 0;
    QByteArray pdu; // function code and data
};

const int kMbapHeaderLength = 7;
const int kMaxMbapPdu = 253; // as an RTU frame's: 256 less station and CRC
const int kMaxMbapFrame = kMbapHeaderLength + kMaxMbapPdu;

QByteArray mbapBytes(const MbapFrame &frame);
// The RTU frame of an MBAP frame: its unit, PDU and CRC.
QByteArray rtuFromMbap(const MbapFrame &frame);
// The MBAP frame of an RTU frame; false when its CRC is wrong or it holds
// no PDU, or more than Modbus allows.
bool mbapFromRtu(const QByteArray &rtu, quint16 transaction, MbapFrame *frame);

// Cuts a byte stream into MBAP frames. It keeps at most one frame's bytes
// beyond what it is fed at once; a header that no Modbus TCP peer sends
// makes the stream unusable: the caller ends the connection.
//
// Called by: the Modbus TCP link and the gateway, on their own threads.
// Never blocks.
class MbapReader
{
public:
    enum Status { Whole, Partial, Malformed };

    void feed(const char *data, int length) { m_in.append(data, length); }
    // The next whole frame off the stream, or why there is none: Partial
    // (more is needed), Malformed (*why says what, and the reader stays
    // so until clear()).
    Status next(MbapFrame *frame, QString *why);
    // Bytes of a frame not yet whole.
    int pending() const { return m_in.size(); }
    void clear() { m_in.clear(); }

private:
    QByteArray m_in;
};

#endif // MBAP_H
