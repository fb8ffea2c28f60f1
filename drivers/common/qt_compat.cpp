#include "qt_compat.h"

#include <cstdarg>

#include <QDebug>

QString QtCompat::asprintf(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
#if QT_VERSION >= 0x050000
    const QString text = QString::vasprintf(format, ap);
#else
    QString text;
    text.vsprintf(format, ap);
#endif
    va_end(ap);
    return text;
}

void QtCompat::debugMessage(const QString &text)
{
#if QT_VERSION >= 0x050000
    qDebug().nospace().noquote() << text;
#else
    // What Qt 4's QDebug hands the message handler: the text in the
    // locale's encoding, here without the quotes it would add.
    qt_message_output(QtDebugMsg, text.toLocal8Bit().constData());
#endif
}
