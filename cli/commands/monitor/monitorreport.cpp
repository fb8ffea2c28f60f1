#include "monitorreport.h"

#include "frametrace.h"
#include "parammap.h"

namespace {

quint8 at(const QByteArray &bytes, int index)
{
    return index < bytes.size() ? quint8(bytes.at(index)) : 0;
}

int word(const QByteArray &bytes, int index)
{
    return at(bytes, index) << 8 | at(bytes, index + 1);
}

// As --trace shows frames: upper case, as the driver its exception codes.
QString hexBytes(const QByteArray &bytes)
{
    return FrameTrace::hex(bytes);
}

bool isException(const HeardFrame &answer)
{
    return answer.crcOk && answer.bytes.size() == 5 && (at(answer.bytes, 1) & 0x80);
}

// The items of a request: the area read or written, its first item (0 on
// the wire is 1 here), and how many.
struct Items
{
    const char *area = nullptr; // null: a function with no items of ours
    bool registers = true;
    int first = 0;
    int count = 0;
};

Items itemsOf(const QByteArray &request)
{
    Items items;
    const quint8 function = at(request, 1);
    items.first = word(request, 2) + 1;
    switch (function) {
    case 1:
        items.area = "DO";
        items.registers = false;
        items.count = word(request, 4);
        break;
    case 2:
        items.area = "DI";
        items.registers = false;
        items.count = word(request, 4);
        break;
    case 3:
        items.area = "HR";
        items.count = word(request, 4);
        break;
    case 4:
        items.area = "IR";
        items.count = word(request, 4);
        break;
    case 5:
        items.area = "DO";
        items.registers = false;
        items.count = 1;
        break;
    case 6:
        items.area = "HR";
        items.count = 1;
        break;
    case 15:
        items.area = "DO";
        items.registers = false;
        items.count = word(request, 4);
        break;
    case 16:
        items.area = "HR";
        items.count = word(request, 4);
        break;
    default:
        break;
    }
    if (items.area && request.size() < 8)
        items.area = nullptr;
    return items;
}

// The item values an exchange carries, bits as 0 and 1.
QList<quint16> rawItems(const Transaction &t, const Items &items, bool *read)
{
    QList<quint16> values;
    const quint8 function = at(t.request.bytes, 1);
    *read = function <= 4;
    const QByteArray &data = *read ? t.answer.bytes : t.request.bytes;
    const int offset = *read ? 3 : (function == 15 || function == 16 ? 7 : 4);
    if (function == 5) {
        values.append(word(data, 4) == 0xFF00 ? 1 : 0);
        return values;
    }
    if (function == 6) {
        values.append(quint16(word(data, 4)));
        return values;
    }
    const int available = *read ? at(data, 2) : at(data, 6);
    for (int i = 0; i < items.count; ++i) {
        if (items.registers) {
            if (2 * i + 1 >= available)
                break;
            values.append(quint16(word(data, offset + 2 * i)));
        } else {
            if (i / 8 >= available)
                break;
            values.append((at(data, offset + i / 8) >> (i % 8)) & 1);
        }
    }
    return values;
}

bool sameSpace(const Area *area, const Items &items)
{
    return area && area->registers == items.registers && area->writable;
}

const char *const kExceptionNames[] = {
    "",
    "illegal function",
    "illegal data address",
    "illegal data value",
    "server device failure",
    "acknowledge",
    "server device busy",
    "",
    "memory parity error",
    "",
    "gateway path unavailable",
    "gateway target device failed to respond"};

} // namespace

QString tooFastText()
{
    return QStringLiteral("the bytes come faster than the baud rate given allows (--line auto finds the line's)");
}

QString ms(qint64 ns)
{
    return QString::number(double(ns) / 1e6, 'f', 2) + QStringLiteral(" ms");
}

QString requestAddress(const QByteArray &request, int *quantity)
{
    const Items items = itemsOf(request);
    *quantity = items.area ? items.count : 0;
    return items.area ? QStringLiteral("%1%2").arg(QLatin1String(items.area)).arg(items.first) : QString();
}

bool isExceptionAnswer(const HeardFrame &answer)
{
    return isException(answer);
}

QString exceptionName(int code)
{
    const int count = int(sizeof kExceptionNames / sizeof kExceptionNames[0]);
    if (code > 0 && code < count && kExceptionNames[code][0])
        return QLatin1String(kExceptionNames[code]);
    return QStringLiteral("unknown code");
}

QList<MonitorValue> transactionValues(const Transaction &t, const ParamFile *map)
{
    QList<MonitorValue> values;
    const bool broadcast = t.kind == Transaction::Exchange && at(t.request.bytes, 0) == 0;
    if (t.kind == Transaction::Noise || t.kind == Transaction::Unasked
        || (!broadcast && (!t.answered() || !t.answer.crcOk || isException(t.answer))))
        return values;
    const Items items = itemsOf(t.request.bytes);
    if (!items.area)
        return values;
    bool read = true;
    const QList<quint16> raw = rawItems(t, items, &read);
    const int station = at(t.request.bytes, 0);
    const DataType *word = dataTypeByName(QStringLiteral("word"));
    const DataType *bit = dataTypeByName(QStringLiteral("bit"));
    for (int i = 0; i < raw.size();) {
        const int number = items.first + i;
        int used = 0;
        if (map && QLatin1String(items.area) != QLatin1String("IR") && QLatin1String(items.area) != QLatin1String("DI")) {
            for (const ParamEntry &entry : map->entries) {
                if (!sameSpace(entry.address.area, items) || entry.address.number != number)
                    continue;
                MonitorValue value{station, entry.address.text.toUpper(), entry.name, 0, entry.type, read};
                if (entry.type->bits == 32) {
                    if (i + 1 >= raw.size())
                        continue;
                    const quint32 low = raw[i + (entry.address.swapped ? 1 : 0)];
                    const quint32 high = raw[i + (entry.address.swapped ? 0 : 1)];
                    value.raw = high << 16 | low;
                    used = qMax(used, 2);
                } else if (entry.type->bits == 1 && entry.address.hasBit()) {
                    value.raw = (raw[i] >> entry.address.bit) & 1;
                    used = qMax(used, 1);
                } else {
                    value.raw = raw[i];
                    used = qMax(used, 1);
                }
                values.append(value);
            }
        }
        if (used == 0) {
            values.append(MonitorValue{station, QStringLiteral("%1%2").arg(QLatin1String(items.area)).arg(number),
                                       QString(), raw[i], items.registers ? word : bit, read});
            used = 1;
        }
        i += used;
    }
    return values;
}

QString describeTransaction(const Transaction &t, const MonitorJudging &judging, const ParamFile *map, ValueFormat format)
{
    if (t.kind == Transaction::Noise) {
        return QStringLiteral("noise: %1 %2: %3")
            .arg(t.answer.bytes.size())
            .arg(QLatin1String(t.answer.bytes.size() == 1 ? "byte" : "bytes"), hexBytes(t.answer.bytes));
    }
    if (t.kind == Transaction::Unasked) {
        QString text = QStringLiteral("station %1 fn %2: an answer no request asked for: %3")
                           .arg(at(t.answer.bytes, 0))
                           .arg(at(t.answer.bytes, 1) & 0x7F)
                           .arg(hexBytes(t.answer.bytes));
        if (t.askedStation >= 0 && t.askedStation != at(t.answer.bytes, 0))
            text += QStringLiteral(" [answer from station %1, station %2 was asked]").arg(at(t.answer.bytes, 0)).arg(t.askedStation);
        return text;
    }
    const QByteArray &request = t.request.bytes;
    const int station = at(request, 0);
    const int function = at(request, 1);
    const Items items = itemsOf(request);
    QString text = QStringLiteral("station %1 fn %2 ").arg(station).arg(function);
    if (items.area)
        text += QStringLiteral("%1%2 x%3").arg(QLatin1String(items.area)).arg(items.first).arg(items.count);
    else
        text += hexBytes(request);
    QStringList flags;
    if (t.kind == Transaction::Late)
        flags.append(QStringLiteral("late answer, after the next request began"));
    if (const QString beyond = RtuRequest(request).beyondLimits(); !beyond.isEmpty())
        flags.append(beyond);
    const QList<MonitorValue> values = transactionValues(t, map);
    if (!values.isEmpty()) {
        QStringList shown;
        for (const MonitorValue &value : values) {
            shown.append(QStringLiteral("%1=%2").arg(value.name.isEmpty() ? value.label : value.name,
                                                     formatValue(value.raw, *value.type,
                                                                 value.type->bits == 1 ? ValueFormat::Decimal : format)));
        }
        text += (values.first().read ? QStringLiteral(": ") : QStringLiteral(" written: "))
                + shown.join(QLatin1Char(' '));
    } else if (t.answered() && !items.area) {
        text += QStringLiteral(" -> ") + hexBytes(t.answer.bytes);
    }
    if (station == 0 && t.kind == Transaction::Exchange && !t.answered())
        flags.append(QStringLiteral("broadcast"));
    else if (!t.answered())
        flags.append(QStringLiteral("no answer"));
    else if (!t.answer.crcOk)
        flags.append(QStringLiteral("CRC error in the answer: %1").arg(hexBytes(t.answer.bytes)));
    else if (isException(t.answer))
        flags.append(QStringLiteral("exception %1 %2")
                         .arg(QString::number(at(t.answer.bytes, 2), 16).toUpper().rightJustified(2, QLatin1Char('0')))
                         .arg(exceptionName(at(t.answer.bytes, 2))));
    const qint64 allowed = judging.gapAllowedNs();
    if (judging.gapInside(t.request))
        flags.append(QStringLiteral("gap %1 inside the request, %2 allowed").arg(ms(t.request.longestGapNs), ms(allowed)));
    if (t.answered() && judging.gapInside(t.answer))
        flags.append(QStringLiteral("gap %1 inside the answer, %2 allowed").arg(ms(t.answer.longestGapNs), ms(allowed)));
    if (judging.tooSoon(t.request))
        flags.append(QStringLiteral("silence %1 before the request, %2 needed")
                         .arg(ms(t.request.silenceBeforeNs), ms(judging.silentNs)));
    if (t.answered()) {
        const qint64 answerNs = t.answerNs();
        text += answerNs < 0 ? QStringLiteral("  answer time unknown") : QStringLiteral("  answer %1").arg(ms(answerNs));
    }
    if (t.request.silenceBeforeNs >= 0)
        text += QStringLiteral("  silence %1").arg(ms(t.request.silenceBeforeNs));
    for (const QString &flag : qAsConst(flags))
        text += QStringLiteral("  [%1]").arg(flag);
    return text;
}

void MonitorStats::add(const Transaction &t)
{
    if (t.kind == Transaction::Noise) {
        ++m_noiseFrames;
        m_noiseBytes += t.answer.bytes.size();
        return;
    }
    if (t.kind == Transaction::Unasked) {
        if (t.askedStation >= 0)
            ++m_stations[t.askedStation].answeredBy[at(t.answer.bytes, 0)];
        else
            ++m_unaskedNoneAwaited;
        return;
    }
    MonitorStationStats &s = m_stations[at(t.request.bytes, 0)];
    if (t.kind == Transaction::Late) {
        ++s.late;
        return;
    }
    ++s.requests;
    const qint64 silence = t.request.silenceBeforeNs;
    if (silence >= 0) {
        m_shortestSilenceNs = m_shortestSilenceNs < 0 ? silence : qMin(m_shortestSilenceNs, silence);
        ++m_silencesTimed;
        if (m_judging.tooSoon(t.request))
            ++m_tooSoon;
    }
    if (at(t.request.bytes, 0) == 0)
        return; // a broadcast: nothing answers it
    if (!t.answered()) {
        ++s.noAnswer;
        return;
    }
    ++s.answered;
    if (!t.answer.crcOk) {
        ++s.crcErrors;
        return;
    }
    if (isException(t.answer))
        ++s.exceptions[at(t.answer.bytes, 2)];
    ++m_answersToTime;
    if (const qint64 answerNs = t.answerNs(); answerNs >= 0)
        s.responseTimes.add(answerNs);
    else
        ++m_answersUntimed;
    m_answersCrossed += t.answerCrossed() ? 1 : 0;
}

bool MonitorStats::answersTooFastForTheBaud() const
{
    return m_answersCrossed >= kCrossedForAHint && 2 * m_answersCrossed > m_answersToTime;
}

const MonitorStationStats *MonitorStats::station(int station) const
{
    const auto it = m_stations.find(station);
    return it == m_stations.end() ? nullptr : &it->second;
}

QStringList MonitorStats::table() const
{
    QStringList lines{QStringLiteral("station  requests  answered  no answer  exceptions  CRC errors  late"
                                     "  min ms  median ms  p99 ms  max ms")};
    for (const auto &entry : m_stations) {
        const MonitorStationStats &s = entry.second;
        lines.append(QStringLiteral("%1  %2  %3  %4  %5  %6  %7  ")
                         .arg(entry.first, 7)
                         .arg(s.requests, 8)
                         .arg(s.answered, 8)
                         .arg(s.noAnswer, 9)
                         .arg(exceptionText(s.exceptions), 10)
                         .arg(s.crcErrors, 10)
                         .arg(s.late, 4)
                     + s.responseTimes.columns());
    }
    for (const auto &entry : m_stations)
        appendOtherDrives(&lines, entry.first, entry.second.answeredBy);
    if (m_answersUntimed > 0) {
        QString line = QStringLiteral("answer times unknown: %1 of %2 answers, left out of min, median, p99 and max "
                                      "(%3 timed before their request ended)")
                           .arg(m_answersUntimed)
                           .arg(m_answersToTime)
                           .arg(m_answersCrossed);
        if (answersTooFastForTheBaud())
            line += QStringLiteral("; %1").arg(tooFastText());
        lines.append(line);
    }
    if (m_unaskedNoneAwaited)
        lines.append(QStringLiteral("answers while no request was awaited: %1").arg(m_unaskedNoneAwaited));
    lines.append(QStringLiteral("noise: %1 bursts, %2 bytes").arg(m_noiseFrames).arg(m_noiseBytes));
    QString master = QStringLiteral("master: shortest silence before a request %1")
                         .arg(m_shortestSilenceNs < 0 ? QStringLiteral("-") : ms(m_shortestSilenceNs));
    master += QStringLiteral(" (%1 needed").arg(ms(m_judging.silentNs));
    if (m_judging.silenceSlackNs > 0)
        master += QStringLiteral(", too soon below %1 on a pseudo-terminal").arg(ms(m_judging.tooSoonBelowNs()));
    master += QStringLiteral("), %1 requests too soon").arg(m_tooSoon);
    if (m_tooSoon > 0)
        master += QStringLiteral(" (%1 % of %2 heard after a frame)")
                      .arg(100.0 * m_tooSoon / m_silencesTimed, 0, 'f', 1)
                      .arg(m_silencesTimed);
    lines.append(master);
    return lines;
}
