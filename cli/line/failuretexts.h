#ifndef SERVOCTL_FAILURETEXTS_H
#define SERVOCTL_FAILURETEXTS_H

#include <QString>

// The driver's failure texts (teco_servo_texts.h) recognised by how they
// begin, so that whatever the driver appends does not matter.

// What a text of a printf format begins with, whatever its numbers.
QString formatPrefix(const char *format);

// The code of the driver's "exception code:0x.." text, or -1 when the text
// is no exception.
int driverExceptionCode(const QString &text);

// An answer came but made no sense: bytes at other settings, or noise.
bool isGarbledAnswerText(const QString &text);

#endif // SERVOCTL_FAILURETEXTS_H
