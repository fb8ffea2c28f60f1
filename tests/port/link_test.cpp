// The port on a link it is handed: the near end of a socket pair, the test
// playing the far end. What the link says it is decides how answers are
// framed and what an ended far end means.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include <gtest/gtest.h>

#include "bitwise_crc.h"
#include "link.h"
#include "serialport.h"

namespace {

// A socket that keeps the line's time (as a terminal does) or not (as a
// converter's connection does), whose writes fail once asked to.
class FakeLink : public Link
{
public:
    FakeLink(bool keepsTime, const bool *failWrites) : m_keepsTime(keepsTime), m_failWrites(failWrites) {}
    bool keepsLineTime() const override { return m_keepsTime; }
    bool endOfInputIsLoss() const override { return !m_keepsTime; }
    long write(int fd, const char *data, long length) override
    {
        if (*m_failWrites) {
            errno = EIO;
            return -1;
        }
        return long(::send(fd, data, size_t(length), MSG_NOSIGNAL));
    }
    void drain(int) override {}
    QString hangUpText() const override { return QStringLiteral("the far end left"); }

private:
    bool m_keepsTime;
    const bool *m_failWrites;
};

const QByteArray kRequest = hexWithCrc("010300000002");
const QByteArray kAnswer = hexWithCrc("010304000A000B");

// A port on a fresh pair, and the far end's descriptor (blocking). The link
// is a FakeLink unless one is given.
struct LinkedPort
{
    explicit LinkedPort(bool keepsTime, int answerTimeoutMs = 1000, std::unique_ptr<Link> link = nullptr)
    {
        if (!link)
            link = std::make_unique<FakeLink>(keepsTime, &failWrites);
        int pair[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        fcntl(pair[0], F_SETFL, O_NONBLOCK);
        far = pair[1];
        port.setAnswerTimeout(answerTimeoutMs);
        port.adopt(pair[0], std::move(link), QStringLiteral("far"), LineSettings());
    }
    ~LinkedPort()
    {
        port.close();
        ::close(far);
    }
    // kRequest sent, and what the far end hears of it.
    void ask(const QByteArray &request = kRequest)
    {
        ASSERT_EQ(port.send(kRequest.constData(), kRequest.size()), kRequest.size());
        QByteArray heard(request.size(), '\0');
        EXPECT_EQ(::recv(far, heard.data(), size_t(heard.size()), MSG_WAITALL), heard.size());
        EXPECT_EQ(heard.toHex(), request.toHex());
    }

    bool failWrites = false;
    SerialPort port;
    int far = -1;
};

// An answer in two pieces 150 ms apart (the inter-character time-out is
// 20 ms): where the link keeps no line time it is one answer, framed by its
// length; where it does, the silence ends the answer after its third byte.
TEST(PortOnALink, SilencesFrameAnswersOnlyWhereTheLinkKeepsTheLinesTime)
{
    for (const bool keepsTime : {false, true}) {
        LinkedPort line(keepsTime);
        line.ask();
        std::thread farEnd([&] {
            EXPECT_EQ(::send(line.far, kAnswer.constData(), 3, 0), 3);
            usleep(150000);
            ::send(line.far, kAnswer.constData() + 3, size_t(kAnswer.size() - 3), 0);
        });
        char buffer[9] = {};
        const int got = line.port.receive(buffer, 9);
        farEnd.join();
        if (keepsTime)
            EXPECT_LT(got, 9) << "a silence within it";
        else
            EXPECT_EQ(QByteArray(buffer, qMax(got, 0)).toHex(), kAnswer.toHex());
    }
}

// A far end that never stops sending (zero bytes as fast as the socket takes
// them; a trickled answer and the bound: tests/rtu): the wait ends at the
// answer's bound, what came is handed over as on a quiet line (the driver
// fails it), and the port says what came.
TEST(PortOnALink, AFarEndThatNeverStopsSendingEndsTheWaitAtTheBound)
{
    LinkedPort line(false, 100);
    line.ask();
    std::thread farEnd([&] {
        const QByteArray zeros(4096, '\0');
        while (::send(line.far, zeros.constData(), size_t(zeros.size()), MSG_NOSIGNAL) > 0) {
        }
    });
    char buffer[9] = {};
    line.port.receive(buffer, 9);
    EXPECT_TRUE(line.port.neverSilent());
    EXPECT_TRUE(line.port.lastNeverSilent().startsWith(QLatin1String("the line never fell silent: ")))
        << qPrintable(line.port.lastNeverSilent());
    ::shutdown(line.far, SHUT_RDWR);
    farEnd.join();
}

// The far end stops sending for good, or the link stops taking bytes: the
// line is lost, said once with why, and every call after fails at once
// without a retry. A link that keeps no time losing its far end:
// TcpLine.PollWaitsForALostConnection..., on a real connection.
TEST(PortOnALink, AnEndedFarEndOrAFailedWriteLosesTheLine)
{
    const struct
    {
        bool keepsTime;
        bool failWrite; // else the far end shuts its sending side
        const char *error;
    } cases[] = {
        {true, false, "line lost: far (the device reports input but gives none)"},
        {false, true, "line lost: far (write: Input/output error)"},
    };
    for (const auto &c : cases) {
        LinkedPort line(c.keepsTime);
        char buffer[9];
        if (c.failWrite) {
            line.failWrites = true;
            EXPECT_EQ(line.port.send(kRequest.constData(), kRequest.size()), -1);
        } else {
            line.ask();
            ::shutdown(line.far, SHUT_WR);
            EXPECT_EQ(line.port.receive(buffer, 9), -1);
        }
        EXPECT_TRUE(line.port.isLost()) << c.error;
        EXPECT_EQ(line.port.errorString(), QLatin1String(c.error));
        EXPECT_EQ(line.port.retryCount(), 0);
        EXPECT_EQ(line.port.send(kRequest.constData(), kRequest.size()), -1);
        EXPECT_EQ(line.port.errorString(), QLatin1String(c.error)) << "said once";
    }
}

// Modbus TCP: each request a new transaction, its header exact; only the
// answer with the request's number is handed over, as an RTU frame; one
// with another number (a request that timed out) is a late answer, said
// with how late; a header no Modbus TCP peer sends loses the line.
TEST(PortOnALink, ModbusTcpMatchesAnswersByTransaction)
{
    LinkedPort line(false, 150, mbapLink());
    const auto far = [&](const char *hex) {
        const QByteArray bytes = QByteArray::fromHex(hex);
        EXPECT_EQ(::send(line.far, bytes.constData(), size_t(bytes.size()), 0), bytes.size());
    };
    char buffer[9] = {};
    line.ask(QByteArray::fromHex("000100000006010300000002"));
    EXPECT_EQ(line.port.receive(buffer, 9), 0) << "no answer to transaction 1";

    line.ask(QByteArray::fromHex("000200000006010300000002"));
    far("00010000000701030400010002"); // transaction 1's, late
    far("000200000007010304000A00");   // transaction 2's, in two pieces
    far("0B");
    EXPECT_EQ(line.port.receive(buffer, 9), 9);
    EXPECT_EQ(QByteArray(buffer, 9).toHex(), kAnswer.toHex());
    EXPECT_EQ(line.port.counters().lateAnswers, 1);
    const QList<LateAnswer> late = line.port.takeLateAnswers();
    ASSERT_EQ(late.size(), 1);
    EXPECT_EQ(late[0].station, 1);
    EXPECT_GE(late[0].latenessNs, 150000000);

    line.ask(QByteArray::fromHex("000300000006010300000002"));
    far("000300050007010304000A000B");
    EXPECT_EQ(line.port.receive(buffer, 9), -1);
    EXPECT_EQ(line.port.errorString(),
              QLatin1String("line lost: far (the far end does not speak Modbus TCP: protocol identifier 5, not 0 "
                            "(Modbus))"));
}

} // namespace
