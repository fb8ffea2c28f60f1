#ifndef RTUANSWER_H
#define RTUANSWER_H

#include <QByteArray>
#include <QString>

#include "rtulength.h"

// What a Modbus RTU master can tell about an answer from the request it has
// sent. A normal answer repeats the station and function; a read answer
// carries the byte count the request asks for; a write acknowledgement
// echoes the address and the value (functions 5, 6) or the quantity (15, 16).
// A frame that differs in any of these cannot be the answer: it is a late
// answer to an earlier request (or another master's). Modbus RTU has no
// transaction number, so answers to two requests that agree in all of these
// cannot be told apart at all.
class RtuRequest
{
public:
    RtuRequest() = default;
    // The request as sent, CRC included. Requests of other functions, or
    // whose length does not fit their function, are not known.
    explicit RtuRequest(const QByteArray &frame);

    bool isKnown() const { return m_answerLength > 0; }
    // Station 0: every drive executes it and none answers.
    bool isBroadcast() const { return isKnown() && station() == 0; }
    quint8 station() const { return quint8(m_frame.at(0)); }
    quint8 function() const { return quint8(m_frame.at(1)); }
    // Length of the normal answer, CRC included.
    int answerLength() const { return m_answerLength; }
    const QByteArray &frame() const { return m_frame; }

    // True when the complete frame, whose CRC is right, can be the normal
    // answer or an exception answer to this request.
    bool isNormalAnswer(const char *data, int size) const;
    bool isExceptionAnswer(const char *data, int size) const;
    bool isAnswer(const char *data, int size) const
    {
        return isNormalAnswer(data, size) || isExceptionAnswer(data, size);
    }
    // The items asked for are beyond what Modbus allows a request of its
    // function (reads of 1 to 2000 bits or 1 to 125 registers, writes of 1
    // to 1968 coils or 1 to 123 registers): "130 registers, Modbus allows 1
    // to 125"; empty within them, and for other functions.
    QString beyondLimits() const;
    // True when the normal answers of both requests would look the same.
    bool answersLookAlike(const RtuRequest &other) const;
    // True when a normal answer can be byte for byte this request: always
    // for functions 5 and 6, and for reads of 17 to 24 bits (3 bytes) whose
    // address's high byte is 3. A frame identical to any other request sent
    // (a broadcast included, which nothing answers) can only be its echo.
    bool canBeItsOwnAnswer() const;

private:
    QByteArray m_frame;
    int m_answerLength = 0;
};

// How the bytes received after a request begin.
struct AnswerScan
{
    enum Verdict {
        Incomplete, // more bytes are needed to judge (length: how many, if known)
        Answer,     // the first length bytes may be the answer: hand them over
        LateFrame,  // the first length bytes are a whole frame that cannot be
        Noise,      // the first length bytes are no frame, and a frame follows
        Unclear     // nothing to go by: the bytes are handed over as they are
    };
    Verdict verdict = Incomplete;
    int length = -1;
};

// Judges the bytes against a known request; lineQuiet says that no more
// bytes will follow them. A frame is recognised only whole and with its
// CRC; a damaged answer that still looks like this request's goes to the
// caller, whose CRC check then fails it.
AnswerScan scanAnswer(const RtuRequest &request, const char *data, int size, bool lineQuiet);

#endif // RTUANSWER_H
