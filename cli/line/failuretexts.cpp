#include "failuretexts.h"

#include <cctype>

#include "teco_servo_texts.h"

QString formatPrefix(const char *format)
{
    const QString text = QLatin1String(format);
    return text.left(text.indexOf(QLatin1Char('%')));
}

int driverExceptionCode(const QString &text)
{
    static const QString prefix = formatPrefix(TecoServoText::Exception);
    if (!text.startsWith(prefix))
        return -1;
    const QString digits = text.mid(prefix.size(), 2);
    for (const QChar c : digits) {
        if (!isxdigit(c.toLatin1()))
            return -1;
    }
    return digits.size() == 2 ? digits.toInt(nullptr, 16) : -1;
}

bool isGarbledAnswerText(const QString &text)
{
    using namespace TecoServoText;
    static const QString kGarbled[] = {
        QLatin1String(CrcError),        formatPrefix(ShortAnswer),  QLatin1String(PacketLoss),
        QLatin1String(InvalidResponse), formatPrefix(OtherStation),
    };
    for (const QString &garbled : kGarbled) {
        if (text.startsWith(garbled))
            return true;
    }
    return false;
}
