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
    int settingsIndex = 0;   // into LineScanner::settingsTried()
    Kind kind = Answered;
    qint64 responseNs = 0;   // Answered, Exception: the read call's time
    int exceptionCode = 0;   // Exception
    qint64 latenessNs = -1;  // Late: from the request; -1 when unknown
    QString why;             // Garbled: what the driver or the port saw
    int answeredAs = -1;     // OtherStation: the number in the answer

    bool isFound() const { return kind != Garbled; }
};

// Probes each station with a one-register read (HR1) through the driver,
// at each line setting in turn, on a port the session has opened. The
// port's time-out, retries and settings are put back afterwards.
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
    // In station order, the settings in the order tried.
    QList<ScanFinding> findings() const { return m_findings.values(); }
    qint64 elapsedNs() const { return m_elapsedNs; }

private:
    bool scanAt(int settingsIndex, const QList<int> &stations);
    bool probe(int station, int settingsIndex);
    void listenForLateAnswers(int settingsIndex);
    // readLateNs: how long after its arrival the port read the input.
    void takeLateAnswers(int settingsIndex, qint64 readLateNs = 0);
    // True when another station answered the probe of station.
    bool takeOtherStations(int settingsIndex, int station = -1);
    void record(const ScanFinding &finding);
    void showProgress(int settingsIndex, int done, int total) const;
    int foundCount() const;

    DriverInterface *m_driver;
    SerialPort *m_port;
    DriverRead m_read;
    Options m_options;
    bool m_live = false; // progress rewritten in place on a terminal
    QList<int> m_stations;
    QList<LineSettings> m_settings;
    QMap<QPair<int, int>, ScanFinding> m_findings; // by station, settings index
    qint64 m_elapsedNs = 0;
};

#endif // SERVOCTL_SCANNER_H
