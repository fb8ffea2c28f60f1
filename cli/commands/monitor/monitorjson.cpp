#include "monitorjson.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "csvlog.h"
#include "parammap.h"

namespace {

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray msOrNull(qint64 ns)
{
    return ns < 0 ? QByteArray("null") : QByteArray::number(double(ns) / 1e6, 'f', 3);
}

QByteArray hexOrNull(const QByteArray &bytes)
{
    return bytes.isEmpty() ? QByteArray("null") : '"' + bytes.toHex().toUpper() + '"';
}

// As printed: a string for hex and bits, null for a float that is no number.
QByteArray valueText(const MonitorValue &value, ValueFormat format)
{
    const ValueFormat shown = value.type->bits == 1 ? ValueFormat::Decimal : format;
    const QString text = formatValue(value.raw, *value.type, shown);
    if (shown == ValueFormat::Hex || shown == ValueFormat::Bits)
        return jsonString(text);
    if (text == QLatin1String("nan") || text.contains(QLatin1String("inf")))
        return "null";
    return text.toLatin1();
}

QByteArray valuesText(const Transaction &t, const ParamFile *map, ValueFormat format)
{
    QByteArray text = "[";
    for (const MonitorValue &value : transactionValues(t, map)) {
        if (text.size() > 1)
            text += ',';
        text += "{\"address\":" + jsonString(value.label);
        if (!value.name.isEmpty())
            text += ",\"name\":" + jsonString(value.name);
        text += ",\"value\":" + valueText(value, format) + ",\"raw\":" + QByteArray::number(value.raw)
                + ",\"read\":" + (value.read ? "true" : "false") + '}';
    }
    return text + ']';
}

} // namespace

QByteArray jsonTransaction(qint64 epochMs, const Transaction &t, const MonitorJudging &judging,
                           const ParamFile *map, ValueFormat format)
{
    static const char *const kKinds[] = {"exchange", "late", "unasked", "noise"};
    const bool asked = t.kind == Transaction::Exchange || t.kind == Transaction::Late;
    const QByteArray &first = asked ? t.request.bytes : t.answer.bytes;
    QByteArray station = "null", function = "null", address = "null", quantity = "null";
    if (t.kind != Transaction::Noise) {
        station = QByteArray::number(quint8(first.at(0)));
        function = QByteArray::number(quint8(first.size() > 1 ? first.at(1) : 0) & (asked ? 0xFF : 0x7F));
    }
    int count = 0;
    const QString label = asked ? requestAddress(t.request.bytes, &count) : QString();
    if (!label.isEmpty()) {
        address = jsonString(label);
        quantity = QByteArray::number(count);
    }
    QList<QByteArray> flags;
    QByteArray exception;
    if (t.kind == Transaction::Late)
        flags.append("late");
    if (asked && !RtuRequest(t.request.bytes).beyondLimits().isEmpty())
        flags.append("beyond_limits");
    if (t.kind == Transaction::Unasked && t.askedStation >= 0 && t.askedStation != quint8(first.at(0)))
        flags.append("other_station");
    if (t.kind == Transaction::Exchange) {
        if (quint8(first.at(0)) == 0 && !t.answered()) {
            flags.append("broadcast");
        } else if (!t.answered()) {
            flags.append("no_answer");
        } else if (!t.answer.crcOk) {
            flags.append("crc_error");
        } else if (isExceptionAnswer(t.answer)) {
            const int code = quint8(t.answer.bytes.at(2));
            flags.append("exception");
            exception = ",\"exception\":" + QByteArray::number(code)
                        + ",\"exception_name\":" + jsonString(exceptionName(code));
        }
    }
    if (asked) {
        if (judging.gapInside(t.request))
            flags.append("gap_in_request");
        if (t.answered() && judging.gapInside(t.answer))
            flags.append("gap_in_answer");
        if (judging.tooSoon(t.request))
            flags.append("short_silence");
        if (t.answered() && t.answerNs() < 0)
            flags.append("answer_time_unknown");
    }
    const qint64 response = asked ? t.answerNs() : -1;
    const qint64 silence = asked ? t.request.silenceBeforeNs : t.answer.silenceBeforeNs;
    QByteArray flagText = "[";
    for (const QByteArray &flag : qAsConst(flags))
        flagText += (flagText.size() > 1 ? ",\"" : "\"") + flag + '"';
    flagText += ']';
    return "{\"time\":" + jsonString(logTimeText(epochMs)) + ",\"kind\":\"" + kKinds[t.kind] + "\",\"station\":"
           + station + ",\"function\":" + function + ",\"address\":" + address + ",\"quantity\":" + quantity
           + ",\"values\":" + valuesText(t, map, format) + ",\"response_ms\":" + msOrNull(response)
           + ",\"silence_ms\":" + msOrNull(silence) + ",\"flags\":" + flagText + exception + ",\"request\":"
           + hexOrNull(asked ? t.request.bytes : QByteArray()) + ",\"answer\":" + hexOrNull(t.answer.bytes) + "}\n";
}
