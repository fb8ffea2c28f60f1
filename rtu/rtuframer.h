#ifndef RTUFRAMER_H
#define RTUFRAMER_H

#include <QByteArray>

// Splits the byte stream a slave hears into request frames.
//
// Requests of functions 1 to 6 are 8 bytes long and those of functions 15
// and 16 are 9 bytes plus their byte count, so such a frame is complete as
// soon as its last byte is in, without waiting for the silent interval
// (which a pseudo-terminal does not keep anyway). A candidate whose CRC is
// wrong loses its first byte and the search goes on from the next one, so
// the framer finds its way back into step after noise. Bytes of any other
// function stay until a known request with a valid CRC follows them or the
// line falls silent (the caller then takes them with takeAtSilence()).
// Never holds more than maxBuffered() bytes.
class RtuFramer
{
public:
    static int maxBuffered() { return 512; }

    void append(const char *data, int length);
    // Takes the next complete request with a valid CRC, if there is one.
    bool takeFrame(QByteArray *frame);
    // The line fell silent: returns what is buffered (a frame of some other
    // function, or noise) and empties the buffer.
    QByteArray takeAtSilence();
    bool hasPending() const { return !m_buffer.isEmpty(); }
    // Bytes thrown away so far while searching for frames.
    qint64 discarded() const { return m_discarded; }

private:
    bool takeBeforeKnownRequest(QByteArray *frame);

    QByteArray m_buffer;
    qint64 m_discarded = 0;
};

#endif // RTUFRAMER_H
