#include "mbap.h"

#include "modbuscrc.h"

namespace {

quint16 word(const QByteArray &bytes, int at)
{
    return quint16((quint8(bytes[at]) << 8) | quint8(bytes[at + 1]));
}

void appendWord(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

} // namespace

QByteArray mbapBytes(const MbapFrame &frame)
{
    QByteArray bytes;
    bytes.reserve(kMbapHeaderLength + frame.pdu.size());
    appendWord(bytes, frame.transaction);
    appendWord(bytes, 0);
    appendWord(bytes, quint16(frame.pdu.size() + 1));
    bytes.append(char(frame.unit));
    bytes.append(frame.pdu);
    return bytes;
}

QByteArray rtuFromMbap(const MbapFrame &frame)
{
    QByteArray rtu;
    rtu.reserve(frame.pdu.size() + 3);
    rtu.append(char(frame.unit));
    rtu.append(frame.pdu);
    appendModbusCrc(rtu);
    return rtu;
}

bool mbapFromRtu(const QByteArray &rtu, quint16 transaction, MbapFrame *frame)
{
    if (rtu.size() < 4 || rtu.size() > kMaxMbapPdu + 3 || !hasValidModbusCrc(rtu))
        return false;
    frame->transaction = transaction;
    frame->unit = quint8(rtu[0]);
    frame->pdu = rtu.mid(1, rtu.size() - 3);
    return true;
}

MbapReader::Status MbapReader::next(MbapFrame *frame, QString *why)
{
    if (m_in.size() < kMbapHeaderLength)
        return Partial;
    const quint16 protocol = word(m_in, 2);
    const int length = word(m_in, 4);
    if (protocol != 0) {
        *why = QStringLiteral("protocol identifier %1, not 0 (Modbus)").arg(protocol);
        return Malformed;
    }
    // The length counts the unit and the PDU, which holds a function code.
    if (length < 2 || length > kMaxMbapPdu + 1) {
        *why = QStringLiteral("length %1, outside 2 to %2").arg(length).arg(kMaxMbapPdu + 1);
        return Malformed;
    }
    const int total = kMbapHeaderLength - 1 + length;
    if (m_in.size() < total)
        return Partial;
    frame->transaction = word(m_in, 0);
    frame->unit = quint8(m_in[6]);
    frame->pdu = m_in.mid(kMbapHeaderLength, total - kMbapHeaderLength);
    m_in.remove(0, total);
    return Whole;
}
