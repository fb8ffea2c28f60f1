#ifndef SIMSERVER_H
#define SIMSERVER_H

#include <atomic>
#include <thread>

#include <QString>

#include "linesettings.h"

class FrameTrace;
class SimLine;

// Serves a simulated line on a pseudo-terminal it opens (clients use
// path()) or on a serial device. Runs in a thread of its own (start/stop)
// or on the caller's thread (run, ended by requestStop from anywhere,
// a signal handler included).
//
// Requests are split by their known lengths and, for other functions, by
// the silent interval of the line settings. With pacing on, an answer
// starts one silent interval after the request and its bytes leave at the
// line's baud rate, as on a real line; without it a pseudo-terminal answers
// at once. On a real device the silent interval is always kept (the UART
// paces the bytes itself).
class SimServer
{
public:
    explicit SimServer(SimLine *line);
    ~SimServer();

    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // False with errorString() on failure.
    bool openPty(const LineSettings &settings);
    bool openDevice(const QString &path, const LineSettings &settings);
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    void setPacing(bool on) { m_pacing = on; }
    // Not owned; only the serving thread writes to it while running.
    void setTrace(FrameTrace *trace) { m_trace = trace; }

    bool start();
    void stop();
    // Serves until requestStop(); false when the line failed.
    bool run();
    void requestStop();

private:
    bool fail(const QString &text);
    void handle(const QByteArray &frame);
    bool waitUntil(qint64 deadlineNs);
    bool writeAnswer(const QByteArray &frame);
    void closeAll();

    SimLine *m_line;
    LineSettings m_settings;
    QString m_path;
    QString m_error;
    int m_fd = -1;
    int m_keepOpenFd = -1; // the pty's slave side, so the master never sees EIO
    int m_stopPipe[2] = {-1, -1};
    bool m_realDevice = false;
    bool m_pacing = false;
    FrameTrace *m_trace = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};

#endif // SIMSERVER_H
