#ifndef SIMSERVER_H
#define SIMSERVER_H

#include <atomic>
#include <mutex>
#include <thread>

#include <QString>

#include "linesettings.h"
#include "tcpaddress.h"

class FrameTrace;
class SimLine;
class SimTap;

// Serves a simulated line on a pseudo-terminal it opens (clients use
// path()) or on a serial device. Runs in a thread of its own (start/stop)
// or on the caller's thread (run, ended by requestStop from anywhere,
// a signal handler included).
//
// Requests are split by their known lengths and, for other functions, by
// the silent interval of the line settings. With pacing on, an answer
// starts one silent interval after the request's time on the wire (which a
// pseudo-terminal does not take) and its bytes leave at the line's baud
// rate, as on a real line; without it a pseudo-terminal answers at once. On a real device the silent interval is always kept (the UART
// paces the bytes itself), and the device is claimed as the port claims it
// (claimLine): one program serving or mastering a line at a time.
//
// A USB adapter pulled out and plugged back in, while serving in its own
// thread: close() closes the pseudo-terminal's master side, so a client
// that has it open sees a hang-up; openPty() and start() then serve the same
// SimLine (the drives keep their data) on a new pseudo-terminal, named by
// path(). The kernel may give it the old number if nothing holds the old
// terminal any more, as an adapter may come back under its old name.
//
// Over TCP (openTcp): RTU frames as they are, CRC included, to one master at
// a time. A second connection while one is served is closed at once and
// said on standard error; a master that leaves makes room for the next.
class SimServer
{
public:
    explicit SimServer(SimLine *line);
    ~SimServer();

    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // False with errorString() on failure. Either first closes what is open
    // (stopping the serving thread).
    bool openPty(const LineSettings &settings);
    bool openDevice(const QString &path, const LineSettings &settings);
    // Listens at the address (port 0: any free one; path() then names the
    // one taken, as tcp://HOST:PORT). simtcp.cpp.
    bool openTcp(const TcpAddress &address, const LineSettings &settings);
    // Stops serving and closes the line.
    void close();
    QString path() const { return m_path; }
    LineSettings lineSettings() const { return m_settings; }
    // Safe while the serving thread runs: it sets the text when the line fails.
    QString errorString() const;

    // Set before start().
    void setPacing(bool on) { m_pacing = on; }
    // An adapter with local echo: every byte heard (whatever its station or
    // CRC, noise too) goes back at once, at the line's pace with pacing,
    // before any answer, which then keeps its silent interval after it.
    void setEcho(bool on) { m_echo = on; }
    // Frames echoed; safe while the serving thread runs.
    qint64 echoedFrames() const { return m_echoed; }
    // Not owned; only the serving thread writes to it while running.
    void setTrace(FrameTrace *trace) { m_trace = trace; }
    // Not owned: hears every frame of the line, requests as they come and
    // answers whole as they begin (an echo stays in the adapter and is not
    // on the line).
    void setTap(SimTap *tap) { m_tap = tap; }

    bool start();
    void stop();
    // Serves until requestStop(); false when the line failed.
    bool run();
    // Async-signal-safe: sets an atomic flag and writes to a pipe.
    void requestStop();

private:
    void setError(const QString &text);
    bool fail(const QString &text);
    void handle(const QByteArray &frame);
    bool heardAtOurBaudRate();
    bool waitUntil(qint64 deadlineNs);
    bool writeAnswer(const QByteArray &frame, bool onLine = true);
    void closeAll();
    // simtcp.cpp: connections taken or refused, and a master leaving.
    void acceptMasters();
    void masterLeft();
    long writeLine(const char *data, long length);

    SimLine *m_line;
    LineSettings m_settings;
    QString m_path;
    mutable std::mutex m_errorMutex;
    QString m_error;
    int m_fd = -1;
    bool m_claimed = false; // the device is ours (claimLine)
    int m_keepOpenFd = -1;  // the pty's slave side, so the master never sees EIO
    int m_listenFd = -1;    // over TCP; m_fd is then the master's connection, -1 while none
    QString m_master;       // the connected master's address
    int m_stopPipe[2] = {-1, -1};
    bool m_realDevice = false;
    bool m_pacing = false;
    bool m_echo = false;
    std::atomic<qint64> m_echoed{0};
    FrameTrace *m_trace = nullptr;
    SimTap *m_tap = nullptr;
    QByteArray m_heardMeanwhile; // read for the tap while an answer waited
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};

#endif // SIMSERVER_H
