#include "linedebt.h"

QByteArray lineDebtText(const LineDebt &debt, const QByteArray &lineId)
{
    QByteArray text = "line " + lineId + "\nquiet " + QByteArray::number(debt.quietUntilNs) + '\n';
    for (const LineDebt::Owed &owed : debt.owed) {
        text += "owed " + QByteArray::number(owed.sentNs) + ' ' + QByteArray::number(owed.holdUntilNs) + ' '
                + QByteArray::number(owed.carried) + ' ' + owed.request.toHex() + '\n';
    }
    return text;
}

LineDebt lineDebtFromText(const QByteArray &text, const QByteArray &lineId)
{
    LineDebt debt;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.value(0) != "line " + lineId)
        return debt;
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.value(0) == "quiet" && fields.size() == 2) {
            debt.quietUntilNs = fields[1].toLongLong();
        } else if (fields.value(0) == "owed" && fields.size() == 5) {
            debt.owed.append(LineDebt::Owed{QByteArray::fromHex(fields[4]), fields[1].toLongLong(),
                                            fields[2].toLongLong(), fields[3].toInt()});
        }
    }
    return debt;
}
