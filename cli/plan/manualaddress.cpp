#include "manualaddress.h"

#include <QRegularExpression>

#include "address.h"

namespace {

// AREA NUMBER REST: the area with its FN5/FN6, the number in either form.
const QRegularExpression kTyped(QStringLiteral("^((?:FN[0-9])?[A-Za-z]+)(0[xX][0-9A-Fa-f]*|[0-9]+)(.*)$"));
const QRegularExpression kLabel(QStringLiteral("^((?:FN[0-9])?[A-Za-z]+)([0-9]+)(.*)$"));
const QRegularExpression kArea(QStringLiteral("^((?:FN[0-9])?[A-Za-z]+)"));

QString rangeText(bool zeroBased, bool hex)
{
    const int first = zeroBased ? 0 : kFirstItem;
    const int last = zeroBased ? kLastItem - 1 : kLastItem;
    const QString range = hex ? QStringLiteral("0x%1 to 0x%2")
                                    .arg(QString::number(first, 16).toUpper(), QString::number(last, 16).toUpper())
                              : QStringLiteral("%1 to %2").arg(first).arg(last);
    return QStringLiteral("numbers run from %1%2").arg(range, QLatin1String(zeroBased ? " with -0 (counted from 0)" : ""));
}

QString numberText(qint64 number, int form)
{
    const qint64 shown = form & ZeroBased ? number - 1 : number;
    return form & Hexadecimal ? QStringLiteral("0x") + QString::number(shown, 16).toUpper() : QString::number(shown);
}

} // namespace

bool parseManualAddress(const QString &text, bool zeroBased, Address *address, QString *error)
{
    const QRegularExpressionMatch match = kTyped.match(text);
    const bool hex = match.hasMatch() && match.captured(2).startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    if (!zeroBased && !hex)
        return parseAddress(text, address, error);
    if (!match.hasMatch()) {
        // servoctl's own terms say what is wrong; with -0, a known area
        // with no number in it is told the numbers -0 takes.
        if (parseAddress(text, address, error))
            return true;
        const QRegularExpressionMatch area = kArea.match(text);
        Address probe;
        QString ignored;
        if (area.hasMatch() && parseAddress(area.captured(1) + QLatin1Char('1'), &probe, &ignored))
            *error = rangeText(zeroBased, false);
        return false;
    }
    const QString digits = hex ? match.captured(2).mid(2) : match.captured(2);
    bool ok = !digits.isEmpty() && digits.size() <= 8;
    qint64 number = ok ? digits.toLongLong(&ok, hex ? 16 : 10) : 0;
    const int first = zeroBased ? 0 : kFirstItem;
    const int last = zeroBased ? kLastItem - 1 : kLastItem;
    if (!ok || number < first || number > last) {
        *error = rangeText(zeroBased, hex);
        return false;
    }
    number += zeroBased ? 1 : 0;
    Address parsed;
    if (!parseAddress(match.captured(1) + QString::number(number) + match.captured(3), &parsed, error))
        return false;
    parsed.manualForm = (zeroBased ? ZeroBased : 0) | (hex ? Hexadecimal : 0);
    *address = parsed;
    return true;
}

QString manualLabel(const QString &label, int form)
{
    const QRegularExpressionMatch match = kLabel.match(label);
    if (!form || !match.hasMatch())
        return label;
    return match.captured(1) + numberText(match.captured(2).toLongLong(), form) + match.captured(3);
}

QString shownLabel(const QString &label, int form)
{
    const QRegularExpressionMatch match = kLabel.match(label);
    if (!form || !match.hasMatch())
        return label;
    return QStringLiteral("%1 (%2%3)")
        .arg(label, numberText(match.captured(2).toLongLong(), form),
             QLatin1String(form & ZeroBased ? " zero-based" : ""));
}
