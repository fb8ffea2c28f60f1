#ifndef FUZZ_PORT_H
#define FUZZ_PORT_H

#include <algorithm>
#include <climits>
#include <cstring>

#include <QByteArray>
#include <QVariant>

#include "abstractdeviceinterface.h"
#include "fuzz_input.h"

// A port whose line is the fuzz input. For every request the input picks an
// answer: a well-formed one (the bytes the request calls for, with a correct
// CRC, so that the fuzzer reaches the data conversions), one of those with a
// damage applied, an exception, a wrong station, raw bytes, or silence. For
// every receive it then picks what the call returns: the bytes honestly, or
// nothing, an error, or a count larger than asked.
class FuzzPort : public AbstractDeviceInterface
{
public:
    explicit FuzzPort(FuzzInput &input) : m_in(input) {}

    int station = 1;
    int retries = 0;

    int receive(char *buffer, int maxLength) override
    {
        if (m_answerDue) {
            m_answer = makeAnswer();
            m_answerDue = false;
        }
        const uint8_t how = m_in.u8();
        if (how % 16 == 13)
            return 0;
        if (how % 16 == 14)
            return -1;
        const int n = std::min(m_answer.size(), std::max(maxLength, 0));
        std::memcpy(buffer, m_answer.constData(), size_t(n));
        m_answer.remove(0, n);
        return how % 16 == 15 ? maxLength + 1 : n;
    }
    int send(const char *data, int length) override
    {
        m_request = QByteArray(data, length);
        m_answerDue = true;
        m_answer.clear();
        return length;
    }
    bool setOption(int, const QVariant &) override
    {
        m_answer.clear(); // option 12 discards unread input
        return true;
    }
    int retryCount() override { return retries; }
    int stationId() override { return station; }
    int frameDelay() override { return 0; }

private:
    // Bytes of a normal answer after station and function code.
    QByteArray normalBody()
    {
        const quint8 function = quint8(m_request.at(1));
        const int quantity = quint8(m_request.at(4)) << 8 | quint8(m_request.at(5));
        int dataBytes = 1;
        if (function == 1 || function == 2)
            dataBytes = quantity / 8 + (quantity % 8 ? 1 : 0);
        else if (function == 3 || function == 4)
            dataBytes = 2 * quantity;
        else if (function == 5 || function == 6 || function == 15 || function == 16)
            return m_request.mid(2, 4);
        QByteArray body = m_in.bytes(size_t(dataBytes));
        body.append(QByteArray(dataBytes - body.size(), '\x5A'));
        return char(dataBytes & 0xFF) + body;
    }

    QByteArray makeAnswer()
    {
        if (m_request.size() < 6)
            return QByteArray();
        const char requestStation = m_request.at(0);
        const char function = m_request.at(1);
        const uint8_t kind = m_in.u8();
        switch (kind % 8) {
        case 1: { // damaged: a byte changed, cut short or lengthened
            QByteArray frame = withCrc(requestStation + (function + normalBody()));
            const int at = m_in.u16() % frame.size();
            switch (m_in.u8() % 3) {
            case 0:
                frame[at] = char(frame.at(at) ^ (m_in.u8() | 1));
                break;
            case 1:
                frame.truncate(at);
                break;
            default:
                frame.append(m_in.bytes(m_in.u8() % 8));
                break;
            }
            return frame;
        }
        case 2: { // an exception answer, its CRC right or wrong
            QByteArray frame = withCrc(QByteArray(1, requestStation) + char(function | 0x80) + char(m_in.u8()));
            if (kind & 0x80)
                frame[4] = char(frame.at(4) ^ 0x01);
            return frame;
        }
        case 3: // raw bytes
            return m_in.bytes(m_in.u8());
        case 4: // silence
            return QByteArray();
        case 6: // another station or function, with a correct CRC
            return withCrc(char(m_in.u8()) + (char(m_in.u8()) + normalBody()));
        default:
            return withCrc(requestStation + (function + normalBody()));
        }
    }

    FuzzInput &m_in;
    QByteArray m_request;
    QByteArray m_answer;
    bool m_answerDue = false;
};

#endif // FUZZ_PORT_H
