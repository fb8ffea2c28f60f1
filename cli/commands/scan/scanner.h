#ifndef SERVOCTL_SCANNER_H
#define SERVOCTL_SCANNER_H

#include <functional>

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include "linesettings.h"
#include "options.h"
#include "scanplan.h"

struct CommunicatorCommand;
class DriverInterface;
class SerialPort;

// What one station did at one line setting when probed.
struct ScanFinding
{
    // OtherStation: its probe was answered with another station's number.
    enum Kind { Answered, Exception, Late, Garbled, OtherStation };

    int station = 0;
    int settingsIndex = 0; // into LineScanner::settingsTried()
    Kind kind = Answered;
    qint64 responseNs = 0;  // Answered, Exception: the read call's time
    int exceptionCode = 0;  // Exception
    qint64 latenessNs = -1; // Late: from the request; -1 when unknown
    QString why;            // Garbled: what the driver or the port saw
    int answeredAs = -1;    // OtherStation: the number in the answer

    bool isFound() const { return kind != Garbled; }
};

// Probes each station with a one-register read (HR1) through the driver,
// at each line setting, on a port the session has opened. The port's
// time-outs, retries and settings are put back afterwards.
//
// A sweep waits for each answer's first byte only as long as a drive takes
// to begin (the port's first-byte time-out: a silent interval and a turn-
// round, more where most drives found so far were slower), not the whole
// time-out; a drive slower than that answers during a later probe, where
// the port books its frame to it (or hears the collision as noise), and
// the stations whose answers came after their window are probed again at
// the end of the block with the whole time-out. Stations 1-10 and 247 go
// first. Several
// settings are swept a block of stations at a time, each block at every
// setting before the next, up to the first setting at which a drive answers
// (unless --all-settings); that one is then swept whole.
class LineScanner
{
public:
    // read: the driver's read on the port, as the session counts it.
    using DriverRead = std::function<QByteArray(const CommunicatorCommand &)>;
    LineScanner(DriverInterface *driver, SerialPort *port, const Options &options, DriverRead read);

    // False when a signal came or the line failed (the port says which);
    // what was found until then is kept.
    bool run(const ScanRequest &request);

    QList<LineSettings> settingsTried() const { return m_settings; }
    // How many of settingsTried() were probed at all.
    int settingsProbed() const;
    // In station order, the settings in the order tried.
    QList<ScanFinding> findings() const { return m_findings.values(); }
    qint64 elapsedNs() const { return m_elapsedNs; }

    // The stations in the order probed: those of 1-10 and 247 first, the
    // rest ascending.
    static QList<int> probeOrder(const QList<int> &stations);

private:
    // One setting's sweep so far.
    struct Sweep
    {
        int nextBlock = 0;
        int probed = 0;
        qint64 floorNs = 0;               // its least wait for a first byte
        qint64 firstByteNs = 0;           // its wait for a first byte
        QList<qint64> readsNs;            // the read times of drives found, ascending
        int lateDrives = 0;               // of them, found only when asked again
        QList<int> suspects;              // stations whose answers came after their window
        QList<QPair<int, qint64>> recent; // stations swept, when each was asked
    };

    bool sweepBlock(int settingsIndex, const QList<int> &block, bool lastBlock);
    bool useSettings(int settingsIndex);
    // fast: within the sweep's first-byte window, else the whole time-out.
    bool probe(int station, int settingsIndex, bool fast);
    bool confirmSuspects(int settingsIndex, bool *lastAnswered);
    bool listenUntil(int settingsIndex, qint64 untilNs);
    void learnFirstByte(int settingsIndex, qint64 responseNs, bool late);
    void suspect(int settingsIndex, int station);
    void suspectRecent(int settingsIndex, qint64 heardSinceNs);
    bool foundAt(int settingsIndex) const;
    // readLateNs: how long after its arrival the port read the input.
    void takeLateAnswers(int settingsIndex, qint64 readLateNs = 0);
    // True when another station answered the probe of station.
    bool takeOtherStations(int settingsIndex, int station = -1);
    void record(const ScanFinding &finding);
    void showProgress(int settingsIndex) const;
    int foundCount() const;
    int timeoutMs(int settingsIndex) const;

    DriverInterface *m_driver;
    SerialPort *m_port;
    DriverRead m_read;
    Options m_options;
    bool m_live = false;       // progress rewritten in place on a terminal
    bool m_confirming = false; // asking suspects again
    QList<int> m_stations;
    QList<LineSettings> m_settings;
    QList<Sweep> m_sweeps;                         // by settings index
    QMap<QPair<int, int>, ScanFinding> m_findings; // by station, settings index
    qint64 m_elapsedNs = 0;
};

#endif // SERVOCTL_SCANNER_H
