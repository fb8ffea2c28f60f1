#ifndef SERVOCTL_MONITORFRAMER_H
#define SERVOCTL_MONITORFRAMER_H

#include <QByteArray>
#include <QList>

// One frame a listener heard, timed from when its bytes were read (monotonic
// nanoseconds).
struct HeardFrame
{
    QByteArray bytes;
    qint64 beginNs = 0; // its first character began
    qint64 endNs = 0;   // its last character ended
    // Since the frame before it ended; -1 when not known (the first frame,
    // or one read together with the frame before it: then its begin is not
    // known either, and no answer time is taken from it).
    qint64 silenceBeforeNs = -1;
    qint64 longestGapNs = 0; // the longest the line was idle between its bytes
    bool crcOk = false;

    bool isEmpty() const { return bytes.isEmpty(); }
};

// Splits what a listener reads into frames by the line's silences: a frame
// ends where the line is silent for the silent interval (3.5 characters).
// Bytes come from a UART: each once its stop bit is in, so k bytes read at
// once began k characters before (at the latest).
// A pause of more than 1.5 characters ends one too once the bytes before it
// are a whole frame with its CRC: the next one then began too soon, which
// the silence before it shows. Bytes whose CRC fails but which begin with
// a whole frame with its CRC, of the length its header gives, are two
// frames read at once, split there. A frame never grows past maxFrame()
// bytes (the longest RTU frame), so noise or a wrong baud rate takes bounded
// memory; bytes that piled up to that bound (a reader that was late) are
// split into the whole frames they hold, the rest kept for what follows. Pure: the caller says when bytes came and what time it is.
//
// With wholeFrames (a pseudo-terminal: servosim's tap hands each frame over
// whole as it begins on the line), a frame ends on the line its characters'
// time after it began; silences and answer times are taken from there.
class MonitorFramer
{
public:
    static int maxFrame() { return 256; }

    MonitorFramer(qint64 characterNs, qint64 silentIntervalNs, bool wholeFrames = false);

    // Bytes read at nowNs; frames they complete are appended to *frames.
    void append(const char *data, int size, qint64 nowNs, QList<HeardFrame> *frames);
    // When the frame in progress ends if nothing more comes; -1 when none is.
    qint64 deadlineNs() const;
    // The frame in progress (two, if read at once), appended to *frames when
    // the line has been silent long enough by nowNs (or with force, at the end).
    bool takeAtSilence(qint64 nowNs, QList<HeardFrame> *frames, bool force = false);

private:
    void finish(QList<HeardFrame> *frames);
    void splitAtBound(QList<HeardFrame> *frames);
    void split(QList<HeardFrame> *frames, bool keepRest);
    void deliver(HeardFrame frame, QList<HeardFrame> *frames);

    qint64 m_characterNs;
    qint64 m_silentNs;
    bool m_wholeFrames;
    // A read's bytes in the frame in progress: where they start, when they
    // were read, and how long the line was idle before them (-1: first).
    struct Read
    {
        int offset;
        int size;
        qint64 readNs;
        qint64 idleBeforeNs;
    };
    const Read *readAt(int offset) const;
    qint64 longestIdle(int from, int to) const;

    HeardFrame m_current;
    QList<Read> m_reads;
    qint64 m_lastEndNs = -1;  // the end of the last frame finished
    bool m_continued = false; // the frame in progress is the rest of a split
};

#endif // SERVOCTL_MONITORFRAMER_H
