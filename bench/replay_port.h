#ifndef REPLAY_PORT_H
#define REPLAY_PORT_H

#include <cstring>

#include <QByteArray>

#include "abstractdeviceinterface.h"

// An in-memory port that replays one prepared answer to every request,
// without allocating: each send rewinds the answer.
class ReplayPort : public AbstractDeviceInterface
{
public:
    explicit ReplayPort(const QByteArray &answer) : m_answer(answer) {}

    int receive(char *buffer, int maxLength) override
    {
        const int n = qMin(maxLength, m_answer.size() - m_offset);
        std::memcpy(buffer, m_answer.constData() + m_offset, size_t(qMax(n, 0)));
        m_offset += qMax(n, 0);
        return n;
    }
    int send(const char *, int length) override
    {
        m_offset = 0;
        ++m_requests;
        return length;
    }
    bool setOption(int, const QVariant &) override { return true; }
    int retryCount() override { return 0; }
    int stationId() override { return 1; }
    int frameDelay() override { return 0; }

    long long requests() const { return m_requests; }

private:
    QByteArray m_answer;
    int m_offset = 0;
    long long m_requests = 0;
};

#endif // REPLAY_PORT_H
