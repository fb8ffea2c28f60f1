#include "jsonlines.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include "manualaddress.h"
#include "plan.h"

namespace {

QByteArray timeText(qint64 epochMs)
{
    return jsonString(logTimeText(epochMs));
}

// The value as printed: its text is a JSON number already, but for hex and
// bits, and a float that is no number.
QByteArray valueText(const Step &item, const ItemValue &value)
{
    if (item.format == ValueFormat::Hex || item.format == ValueFormat::Bits)
        return jsonString(value.shown);
    if (value.shown == QLatin1String("nan") || value.shown.contains(QLatin1String("inf")))
        return "null";
    return value.shown.toLatin1();
}

// In address order: a dword's low word is the lower register unless SW.
QByteArray rawText(const Step &item, quint64 raw)
{
    QList<quint64> parts{raw};
    if (item.type->bits == 32) {
        parts = {raw & 0xFFFF, raw >> 16};
        if (item.address.swapped)
            std::swap(parts[0], parts[1]);
    }
    QByteArray text = "[";
    for (const quint64 part : parts)
        text += (text.size() > 1 ? "," : "") + QByteArray::number(part);
    return text + ']';
}

QByteArray addressText(const Step &item, const QString &label)
{
    QByteArray text = "\"address\":" + jsonString(label);
    if (item.address.manualForm)
        text += ",\"manual_address\":" + jsonString(manualLabel(label, item.address.manualForm));
    return text;
}

} // namespace

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray jsonMs(qint64 ns)
{
    return QByteArray::number(double(ns) / 1e6, 'f', 3);
}

QByteArray jsonReading(qint64 epochMs, const Step &item, int station, const ItemValue &value, LogKind kind,
                       const QString &error)
{
    return "{\"time\":" + timeText(epochMs) + ",\"station\":" + QByteArray::number(station) + ','
           + addressText(item, value.label) + ",\"kind\":\"" + logKindName(kind)
           + "\",\"type\":" + jsonString(QLatin1String(item.type->name)) + ",\"value\":" + valueText(item, value)
           + ",\"raw\":" + rawText(item, value.raw)
           + (error.isEmpty() ? QByteArray(",\"ok\":true}\n") : ",\"ok\":false,\"error\":" + jsonString(error) + "}\n");
}

QByteArray jsonFailure(qint64 epochMs, const Step &item, int station, const QString &text)
{
    return "{\"time\":" + timeText(epochMs) + ",\"station\":" + QByteArray::number(station) + ','
           + addressText(item, item.address.itemLabel(*item.type, 0)) + ",\"kind\":\"read\""
           + ",\"ok\":false,\"error\":" + jsonString(text) + "}\n";
}
