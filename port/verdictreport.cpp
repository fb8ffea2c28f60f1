#include "verdictreport.h"

#include "frametrace.h"

namespace {

const qint64 kMs = 1000000;
// Between two takes; the counters count them all.
const int kMaxAnswersKept = 256;

} // namespace

QString VerdictReport::take(const JudgeEvent &e, const QByteArray &sent, QString *error)
{
    QString note;
    switch (e.kind) {
    case JudgeEvent::Late:
        ++m_counters.lateAnswers;
        if (m_lateAnswers.size() < kMaxAnswersKept)
            m_lateAnswers.append(LateAnswer{e.station, e.latenessNs, e.doubtsLastAnswer});
        note = e.latenessNs >= 0
                   ? QStringLiteral("dropped a late answer from station %1, %2 ms after its request")
                         .arg(e.station)
                         .arg(e.latenessNs / kMs)
                   : QStringLiteral("dropped an answer from station %1 that no request awaited").arg(e.station);
        break;
    case JudgeEvent::OtherStation:
        ++m_counters.otherStationAnswers;
        if (m_otherStations.size() < kMaxAnswersKept)
            m_otherStations.append(OtherStationAnswer{e.station, e.askedStation});
        note = QStringLiteral("dropped an answer from station %1, which was not asked").arg(e.station);
        break;
    case JudgeEvent::Noise:
        m_counters.noiseBytes += e.length;
        note = QStringLiteral("dropped %1 bytes that begin no frame").arg(e.length);
        break;
    case JudgeEvent::Echo:
        break;
    case JudgeEvent::Garbled:
        ++m_counters.garbledEchoes;
        m_lastGarbledEcho = QStringLiteral("the line garbled our own request: sent %1, heard %2%3")
                                .arg(FrameTrace::hex(sent), QLatin1String(e.heard.size() < sent.size() ? "only " : ""),
                                     FrameTrace::hex(e.heard));
        *error = note = m_lastGarbledEcho;
        break;
    case JudgeEvent::UncertainAnswer:
        ++m_counters.uncertainAnswers;
        note = QStringLiteral("this answer may be owed to an earlier request");
        break;
    case JudgeEvent::UncertainEcho:
        ++m_counters.uncertainEchoes;
        note = QStringLiteral("this answer may be the request's own echo");
        break;
    case JudgeEvent::Early:
        ++m_counters.earlyFrames;
        note = QStringLiteral("a frame came before the request's answer could have");
        break;
    case JudgeEvent::NeverSilent:
        ++m_counters.neverSilent;
        m_lastNeverSilent = note = QStringLiteral("the line never fell silent: %1 bytes in %2 ms").arg(e.length).arg(e.latenessNs / kMs);
        break;
    case JudgeEvent::Fault:
        *error = note = e.fault == EchoFault::Unexpected
                            ? QStringLiteral("the line echoes our own requests back (an adapter with local echo?)")
                            : QStringLiteral("the line does not echo our own requests back (an adapter without "
                                             "local echo?)");
        break;
    }
    return note;
}

QList<LateAnswer> VerdictReport::takeLateAnswers()
{
    QList<LateAnswer> taken;
    taken.swap(m_lateAnswers);
    return taken;
}

QList<OtherStationAnswer> VerdictReport::takeOtherStationAnswers()
{
    QList<OtherStationAnswer> taken;
    taken.swap(m_otherStations);
    return taken;
}
