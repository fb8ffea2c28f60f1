#ifndef QT_COMPAT_H
#define QT_COMPAT_H

// The plug-in and the toolkit build from one source against the panel
// runtime's Qt 4.7 and against Qt 5. What Qt 4.7 lacks is made here from what
// both have, with the same results; none of it is exported.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#if QT_VERSION < 0x050000
#define Q_DECL_HIDDEN __attribute__((visibility("hidden")))
// Qt 5 builds these at compile time, Qt 4 when they are reached: the same
// text either way (the sources' literals are UTF-8).
#define QStringLiteral(text) QString::fromUtf8("" text "", int(sizeof(text)) - 1)
#define QByteArrayLiteral(text) QByteArray("" text "", int(sizeof(text)) - 1)
#endif

namespace QtCompat {

// QString::asprintf, which Qt 4.7 lacks (its sprintf, a member, Qt 5
// deprecates): the same conversions in both.
Q_DECL_HIDDEN QString asprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Sends text as one message of the debug kind, exactly as it is: Qt 4's
// QDebug would put it in quotes, Qt 5's drops a trailing space.
Q_DECL_HIDDEN void debugMessage(const QString &text);

} // namespace QtCompat

#endif // QT_COMPAT_H
