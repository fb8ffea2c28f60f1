#ifndef SIMTAP_H
#define SIMTAP_H

#include <QString>

#include "linesettings.h"

// A second pseudo-terminal on a simulated line that hears what a
// listen-only adapter wired in parallel would: every byte of the line,
// requests and answers alike, when it happens on it (to the frame: a
// pseudo-terminal keeps no timing inside one). The listener's side
// (path()) never reaches the line: what is written there is read here,
// counted (writtenByListener()) and dropped.
//
// A pseudo-terminal buffers what nobody reads; while no listener drains
// it, the oldest bytes are flushed rather than the line held up, as an
// adapter nobody listens to loses them.
class SimTap
{
public:
    SimTap() = default;
    ~SimTap();

    SimTap(const SimTap &) = delete;
    SimTap &operator=(const SimTap &) = delete;

    // False with errorString() on failure.
    bool open(const LineSettings &settings);
    void close();
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // Called by the server's thread with every byte the line carries.
    void hear(const char *data, int size);
    // Bytes the listener sent towards the line (never passed on); once the
    // server has stopped.
    qint64 writtenByListener();

private:
    void drainListener();

    int m_master = -1;
    int m_slave = -1; // kept open so the master never reads EIO between listeners
    QString m_path;
    QString m_error;
    qint64 m_fromListener = 0;
};

#endif // SIMTAP_H
