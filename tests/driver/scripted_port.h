#ifndef SCRIPTED_PORT_H
#define SCRIPTED_PORT_H

#include <algorithm>
#include <cstring>
#include <deque>
#include <ostream>

#include <QByteArray>
#include <QStringList>
#include <QVariant>

#include "abstractdeviceinterface.h"
#include "bitwise_crc.h"
#include "qt_test_compat.h"

// An in-memory port: records every call in order and replays prepared
// answers. Reusable by unit tests and fuzz targets.
class ScriptedPort : public AbstractDeviceInterface
{
public:
    int station = 1;
    int retries = 0;
    int delay = 0;
    QStringList calls;      // "stationId", "send 01 03 ...", "receive 5", ...
    QList<QByteArray> sent; // the frames sent, in order

    // Bytes the drive sends: each receive takes what it asks for from the
    // front answer, the rest staying for the next receive.
    void answer(const QByteArray &bytes) { replies.push_back({bytes, false, 0}); }
    // The next receive gets bytes (no more than it asked for) and returns
    // count, which may be anything: more than asked, zero, negative.
    void reply(const QByteArray &bytes, int count) { replies.push_back({bytes, true, count}); }
    // No answer at all for the next receive.
    void silence() { reply(QByteArray(), 0); }

    int receive(char *buffer, int maxLength) override
    {
        calls << QStringLiteral("receive %1").arg(maxLength);
        if (replies.empty())
            return 0;
        Reply &r = replies.front();
        const int n = std::min(r.bytes.size(), std::max(maxLength, 0));
        std::memcpy(buffer, r.bytes.constData(), size_t(n));
        if (r.scripted) {
            const int count = r.count;
            replies.pop_front();
            return count;
        }
        r.bytes.remove(0, n);
        if (r.bytes.isEmpty())
            replies.pop_front();
        return n;
    }
    int send(const char *data, int length) override
    {
        const QByteArray frame(data, length);
        sent << frame;
        calls << QStringLiteral("send ") + hexOf(frame);
        return length;
    }
    bool setOption(int option, const QVariant &value) override
    {
        calls << QStringLiteral("setOption %1 %2 %3").arg(option).arg(value.typeName()).arg(value.toString());
        return true;
    }
    int retryCount() override
    {
        calls << QStringLiteral("retryCount");
        return retries;
    }
    int stationId() override
    {
        calls << QStringLiteral("stationId");
        return station;
    }
    int frameDelay() override
    {
        calls << QStringLiteral("frameDelay");
        return delay;
    }

    int count(const QString &call) const { return int(calls.count(call)); }

private:
    struct Reply
    {
        QByteArray bytes;
        bool scripted;
        int count;
    };
    std::deque<Reply> replies;
};

// Readable failure messages for Qt texts.
inline std::ostream &operator<<(std::ostream &out, const QString &text)
{
    return out << '"' << text.toStdString() << '"';
}

inline std::ostream &operator<<(std::ostream &out, const QStringList &list)
{
    return out << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << text;
}
inline void PrintTo(const QStringList &list, std::ostream *out)
{
    *out << list;
}

#endif // SCRIPTED_PORT_H
