#include "itemvalues.h"

#include "manualaddress.h"
#include "plan.h"

QList<ItemValue> itemValues(const Step &step, const QByteArray &data)
{
    QList<ItemValue> values;
    for (int i = 0; i < step.count; ++i) {
        quint64 raw = 0;
        if (!itemAt(data, *step.type, i, &raw))
            break;
        values.append(ItemValue{step.address.itemLabel(*step.type, i), raw, formatValue(raw, *step.type, step.format)});
    }
    return values;
}

QStringList describeItems(const Step &step, const QByteArray &data)
{
    QStringList lines;
    const QList<ItemValue> values = itemValues(step, data);
    for (const ItemValue &value : values)
        lines.append(QStringLiteral("%1 = %2").arg(shownLabel(value.label, step.address.manualForm), value.shown));
    if (values.size() < step.count) {
        lines.append(QStringLiteral("(the driver returned %1 bytes: %2 of %3 items)")
                         .arg(data.size())
                         .arg(values.size())
                         .arg(step.count));
    }
    return lines;
}
