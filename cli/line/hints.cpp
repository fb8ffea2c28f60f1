#include "hints.h"

#include <QList>
#include <QStringList>

#include "failuretexts.h"
#include "teco_servo_texts.h"
#include "values.h"

namespace {

struct Hint
{
    QString prefix; // the start of the driver's text
    const char *text;
    bool namesTypes; // the data types the driver serves follow the text
};

const char kCutShort[] = "answer cut short: baud rate or parity mismatch, noise, or --inter-char too "
                         "short; see poll --stats";

// Over Modbus TCP a gateway stands between servoctl and the drive; its
// "no answer" exceptions reach the driver as silence.
const QList<Hint> &modbusTcpHints()
{
    static const QList<Hint> kHints = {
        {QLatin1String(TecoServoText::NoResponse),
         "no answer through the gateway: a wrong unit id, the gateway's serial settings or wiring, "
         "the drive is off, or the gateway waits on its line longer than --timeout; servoctl scan "
         "finds who answers",
         false},
    };
    return kHints;
}

// First match wins: the exception codes the drives use before any other.
const QList<Hint> &hints()
{
    using namespace TecoServoText;
    static const QList<Hint> kHints = {
        {QLatin1String(NoResponse),
         "no answer: wrong station, baud rate or wiring, or the drive is "
         "off; servoctl scan finds who answers",
         false},
        {QLatin1String(CrcError),
         "garbled answer: baud rate or parity mismatch, missing termination "
         "or bias, noise; see poll --stats",
         false},
        {QString::asprintf(Exception, 0x01),
         "the drive serves no such function: the area (or its "
         "FN6/FN5 form) is not valid for that drive",
         false},
        {QString::asprintf(Exception, 0x02),
         "the address is not valid for that drive (HR1 is "
         "register 0 on the wire); --trace shows it",
         false},
        {QString::asprintf(Exception, 0x03),
         "the value or the count is not valid for that drive "
         "(the parameter's range); --trace shows it",
         false},
        {QString::asprintf(Exception, 0x04),
         "the drive failed carrying the request out: look for "
         "an alarm on the drive itself",
         false},
        {QString::asprintf(Exception, 0x06),
         "the drive is busy (storing to EEPROM, say): try "
         "again, or give it time with --delay",
         false},
        {formatPrefix(Exception),
         "the drive refused the request: the address or value is not valid "
         "for that drive; --trace shows it",
         false},
        {formatPrefix(OtherStation),
         "another station answered: two drives set to one station "
         "number, or a late answer; --trace shows it",
         false},
        {formatPrefix(ShortAnswer), kCutShort, false},
        {QLatin1String(PacketLoss), kCutShort, false},
        {QLatin1String(InvalidResponse),
         "the answer does not fit the request: another device or "
         "protocol on the line? --trace shows it",
         false},
        {QLatin1String(UnsupportedType), "the driver serves these data types only: ", true},
        {QStringLiteral("the line never fell silent"),
         "bytes without a pause: a device that sends on and on (a drive babbling, a transmitter "
         "stuck on), traffic at another baud rate, or an answer sent slower than the line "
         "carries it; --trace shows them",
         false},
    };
    return kHints;
}

} // namespace

QString hintFor(const QString &driverErrorText, bool modbusTcp)
{
    for (const Hint &hint : (modbusTcp ? modbusTcpHints() : QList<Hint>()) + hints()) {
        if (!driverErrorText.startsWith(hint.prefix))
            continue;
        QString text = QLatin1String(hint.text);
        if (hint.namesTypes)
            text += dataTypeNames().join(QStringLiteral(", "));
        return text;
    }
    return QString();
}

QString costHint(const QString &driverErrorText, qint64 callNs, qint64 requests, int retries, int timeoutMs)
{
    if (requests < 2 || !driverErrorText.startsWith(QLatin1String(TecoServoText::NoResponse)))
        return QString();
    return QStringLiteral("it took %1 s: %2 requests (--retries %3) at --timeout %4 ms; lower them to give up sooner")
        .arg(double(callNs) / 1e9, 0, 'f', 1)
        .arg(requests)
        .arg(retries)
        .arg(timeoutMs);
}
