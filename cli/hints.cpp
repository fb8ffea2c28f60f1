#include "hints.h"

#include <QStringList>

#include "values.h"

namespace {

struct Hint
{
    const char *prefix; // the start of the driver's text
    const char *text;
    bool namesTypes;    // the data types the driver serves follow the text
};

const char kCutShort[] = "answer cut short: baud rate or parity mismatch, noise, or --inter-char too "
                         "short; see poll --stats";

// First match wins: the exception codes the drives use before any other.
const Hint kHints[] = {
    {"PLC no response", "no answer: wrong station, baud rate or wiring, or the drive is off; "
                        "servoctl scan finds who answers", false},
    {"CRC error", "garbled answer: baud rate or parity mismatch, missing termination or bias, "
                  "noise; see poll --stats", false},
    {"exception code:0x01", "the drive serves no such function: the area (or its FN6/FN5 form) is not "
                            "valid for that drive", false},
    {"exception code:0x02", "the address is not valid for that drive (HR1 is register 0 on the wire); "
                            "--trace shows it", false},
    {"exception code:0x03", "the value or the count is not valid for that drive (the parameter's range); "
                            "--trace shows it", false},
    {"exception code:0x04", "the drive failed carrying the request out: look for an alarm on the "
                            "drive itself", false},
    {"exception code:0x06", "the drive is busy (storing to EEPROM, say): try again, or give it time "
                            "with --delay", false},
    {"exception code:", "the drive refused the request: the address or value is not valid for that "
                        "drive; --trace shows it", false},
    {"invalid slave id:", "another station answered: two drives set to one station number, or a late "
                          "answer; --trace shows it", false},
    {"received bytes <", kCutShort, false},
    {"packet loss", kCutShort, false},
    {"invalid response", "the answer does not fit the request: another device or protocol on the "
                         "line? --trace shows it", false},
    {"unsupported data type:", "the driver serves these data types only: ", true},
};

} // namespace

QString hintFor(const QString &driverErrorText)
{
    for (const Hint &hint : kHints) {
        if (!driverErrorText.startsWith(QLatin1String(hint.prefix)))
            continue;
        QString text = QLatin1String(hint.text);
        if (hint.namesTypes)
            text += dataTypeNames().join(QStringLiteral(", "));
        return text;
    }
    return QString();
}
