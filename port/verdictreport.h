#ifndef VERDICTREPORT_H
#define VERDICTREPORT_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "answerjudge.h"

// The judgement's verdicts as the port's users see them: the counters, a
// note for the frame trace, the late and other stations' answers (a bounded
// number kept between takes) and the texts of the last garbled echo and
// the last line that never fell silent.
// Called by: SerialPort, after each feed of the judge, on its thread.
// Never blocks.
class VerdictReport
{
public:
    // The trace's note on event (empty: none); *error is set where the
    // verdict fails the request. sent: the request the verdict is about.
    QString take(const JudgeEvent &event, const QByteArray &sent, QString *error);

    PortCounters &counters() { return m_counters; }
    const PortCounters &counters() const { return m_counters; }
    QList<LateAnswer> takeLateAnswers();
    QList<OtherStationAnswer> takeOtherStationAnswers();
    const QString &lastGarbledEcho() const { return m_lastGarbledEcho; }
    const QString &lastNeverSilent() const { return m_lastNeverSilent; }

private:
    PortCounters m_counters;
    QList<LateAnswer> m_lateAnswers;
    QList<OtherStationAnswer> m_otherStations;
    QString m_lastGarbledEcho;
    QString m_lastNeverSilent;
};

#endif // VERDICTREPORT_H
