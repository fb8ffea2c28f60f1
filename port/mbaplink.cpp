// The link to a Modbus TCP server or gateway: each RTU frame the port sends
// goes as an MBAP frame of a new transaction, and only the answer with
// that transaction's number comes back to the port, as an RTU frame.
#include "link.h"

#include <cerrno>

#include <poll.h>

#include "mbap.h"
#include "tcpline.h"
#include "termiosline.h"

namespace {

// A frame is written whole: the socket's buffer takes it at once unless
// the far end stopped reading long ago.
const int kWriteWaitMs = 1000;
// The requests whose answers are recognised when they come late.
const int kSentKept = 16;
const qint64 kMaxEvents = 256;

class MbapLink : public Link
{
public:
    bool keepsLineTime() const override { return false; }
    bool endOfInputIsLoss() const override { return true; }
    bool matchesAnswers() const override { return true; }
    void drain(int) override {}
    QString hangUpText() const override { return QStringLiteral("the connection was closed"); }
    QString fault() const override { return m_fault; }

    long write(int fd, const char *data, long length) override
    {
        MbapFrame frame;
        if (!mbapFromRtu(QByteArray(data, int(length)), quint16(m_transaction + 1), &frame)) {
            errno = EINVAL;
            return -1;
        }
        const QByteArray bytes = mbapBytes(frame);
        for (int sent = 0; sent < bytes.size();) {
            const long n = sendToSocket(fd, bytes.constData() + sent, bytes.size() - sent);
            if (n > 0) {
                sent += int(n);
                continue;
            }
            pollfd pfd = {fd, POLLOUT, 0};
            if (n < 0 && errno != EINTR && (errno != EAGAIN || poll(&pfd, 1, kWriteWaitMs) <= 0))
                return -1;
        }
        ++m_transaction;
        m_answered = false;
        m_sent[m_transaction % kSentKept] = Sent{m_transaction, monotonicNs()};
        return length;
    }

    QByteArray rtuBytes(const char *data, long length) override
    {
        QByteArray rtu;
        if (!m_fault.isEmpty())
            return rtu;
        m_reader.feed(data, int(length));
        MbapFrame frame;
        QString why;
        for (MbapReader::Status status; (status = m_reader.next(&frame, &why)) != MbapReader::Partial;) {
            if (status == MbapReader::Malformed) {
                m_fault = QStringLiteral("the far end does not speak Modbus TCP: %1").arg(why);
                m_reader.clear();
                break;
            }
            // A gateway's 0x0A or 0x0B says that no answer came: the station
            // said nothing, and nothing of it is handed over.
            const bool noAnswer = frame.pdu.size() == 2 && (quint8(frame.pdu[0]) & 0x80)
                                  && (frame.pdu.at(1) == 0x0A || frame.pdu.at(1) == 0x0B);
            if (frame.transaction == quint16(m_transaction) && !m_answered) {
                m_answered = true;
                if (!noAnswer)
                    rtu += rtuFromMbap(frame);
            } else if (!noAnswer) {
                dropped(frame);
            }
        }
        return rtu;
    }

    QList<JudgeEvent> takeEvents() override
    {
        QList<JudgeEvent> taken;
        taken.swap(m_events);
        return taken;
    }

private:
    struct Sent
    {
        quint32 transaction = 0;
        qint64 ns = -1;
    };

    // Another transaction's answer (a request that timed out), late by the
    // time since its request where that is known, or an answer sent twice.
    void dropped(const MbapFrame &frame)
    {
        if (m_events.size() >= kMaxEvents)
            return;
        JudgeEvent late(JudgeEvent::Late);
        late.station = frame.unit;
        late.length = frame.pdu.size() + 3;
        for (const Sent &sent : m_sent) {
            if (sent.ns >= 0 && quint16(sent.transaction) == frame.transaction && sent.transaction != m_transaction)
                late.latenessNs = monotonicNs() - sent.ns;
        }
        m_events.append(late);
    }

    quint32 m_transaction = 0; // the last request's; its low 16 bits go on the wire
    bool m_answered = true;
    Sent m_sent[kSentKept];
    MbapReader m_reader;
    QList<JudgeEvent> m_events;
    QString m_fault;
};

} // namespace

std::unique_ptr<Link> mbapLink()
{
    return std::make_unique<MbapLink>();
}
