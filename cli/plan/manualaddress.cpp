#include "manualaddress.h"

#include <QRegularExpression>

#include "address.h"

namespace {

// AREA NUMBER REST: the area with its FN5/FN6, the number in either form.
const QRegularExpression kTyped(QStringLiteral("^((?:FN[0-9])?[A-Za-z]+)(0[xX][0-9A-Fa-f]*|[0-9]+)(.*)$"));
const QRegularExpression kLabel(QStringLiteral("^((?:FN[0-9])?[A-Za-z]+)([0-9]+)(.*)$"));
const QRegularExpression kArea(QStringLiteral("^((?:FN[0-9])?[A-Za-z]+)"));

// Reference numbers: the first digit names the table, the rest counts from
// 1, in four or five digits (40001, 400001; 4x0001 alike).
const QRegularExpression kReference(QStringLiteral("^([0-9])([xX]?)([0-9]+)(.*)$"));
const struct
{
    char digit;
    const char *area;
} kReferenceTables[] = {{'0', "DO"}, {'1', "DI"}, {'3', "IR"}, {'4', "HR"}};

const char kReferenceHelp[] = "reference numbers begin 0 (coils, DO), 1 (inputs, DI), 3 (input registers, IR) or 4 "
                              "(holding registers, HR): 40001 is HR1";

// An address that begins with a digit, as a reference number into *text
// in servoctl's terms; false with a text saying how to write it.
bool referenceAddress(const QString &given, QString *text, QString *error)
{
    const QRegularExpressionMatch match = kReference.match(given);
    const QString digits = match.captured(3);
    if (!match.hasMatch() || digits.size() < 4 || digits.size() > 5) {
        *error = QStringLiteral("an address names its area, such as HR100 (or IR, DO, DI); %1").arg(QLatin1String(kReferenceHelp));
        return false;
    }
    const char digit = char(match.captured(1)[0].unicode());
    // 0x0001 reads as hexadecimal as well as coil 1.
    if (digit == '0' && !match.captured(2).isEmpty()) {
        *error = QStringLiteral("0x%1 could be hexadecimal or a coil: write DO%2").arg(digits).arg(digits.toInt());
        return false;
    }
    for (const auto &table : kReferenceTables) {
        if (table.digit != digit)
            continue;
        const int number = digits.toInt();
        if (number < kFirstItem || number > kLastItem) {
            *error = QStringLiteral("the number after the table's digit runs from %1 to %2 (%3 is %4)")
                         .arg(kFirstItem)
                         .arg(kLastItem)
                         .arg(QLatin1Char(digit) + QString::number(kFirstItem).rightJustified(4, QLatin1Char('0')),
                              QLatin1String(table.area) + QString::number(kFirstItem));
            return false;
        }
        *text = QLatin1String(table.area) + QString::number(number) + match.captured(4);
        return true;
    }
    *error = QLatin1String(kReferenceHelp);
    return false;
}

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

bool parseManualAddress(const QString &typed, bool zeroBased, Address *address, QString *error)
{
    // A reference number counts from 1 whatever -0 says.
    QString text = typed;
    if (!text.isEmpty() && text[0].isDigit()) {
        if (!referenceAddress(typed, &text, error))
            return false;
        return parseAddress(text, address, error);
    }
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
