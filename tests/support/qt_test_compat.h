#ifndef QT_TEST_COMPAT_H
#define QT_TEST_COMPAT_H

// What the plug-in's tests need that Qt 4.7 lacks, made from what it has,
// so that they build against the panel's Qt 4 and against Qt 5 alike.
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QStringList>

#include "qt_compat.h"

// Qt 4's containers take no brace lists.
inline QStringList strings(std::initializer_list<QString> items)
{
    QStringList list;
    for (const QString &item : items)
        list << item;
    return list;
}

template <typename T>
QList<T> listOf(std::initializer_list<T> items)
{
    QList<T> list;
    for (const T &item : items)
        list << item;
    return list;
}

template <typename T>
QList<T> listOf(const std::vector<T> &items)
{
    QList<T> list;
    for (const T &item : items)
        list << item;
    return list;
}

// Upper-case hex, a space between bytes: "01 03 00 64".
inline QString hexOf(const QByteArray &bytes)
{
    QString text;
    const QByteArray digits = bytes.toHex().toUpper();
    for (int i = 0; i < digits.size(); i += 2)
        text += (i ? QLatin1String(" ") : QLatin1String("")) + QString::fromLatin1(digits.mid(i, 2));
    return text;
}

// Captures the debug messages sent while it lives, as the message handler
// gets them.
class DebugCapture
{
public:
#if QT_VERSION >= 0x050000
    DebugCapture()
    {
        previous = qInstallMessageHandler(&DebugCapture::handler);
        messages().clear();
    }
    ~DebugCapture()
    {
        qInstallMessageHandler(previous);
    }
#else
    DebugCapture()
    {
        previous = qInstallMsgHandler(&DebugCapture::handler);
        messages().clear();
    }
    ~DebugCapture()
    {
        qInstallMsgHandler(previous);
    }
#endif
    static QStringList &messages()
    {
        static QStringList list;
        return list;
    }

private:
#if QT_VERSION >= 0x050000
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (type == QtDebugMsg)
            messages().append(text);
    }
    QtMessageHandler previous;
#else
    static void handler(QtMsgType type, const char *text)
    {
        if (type == QtDebugMsg)
            messages().append(QString::fromLocal8Bit(text));
    }
    QtMsgHandler previous;
#endif
};

// Removes a folder and what it holds (QDir::removeRecursively is Qt 5's).
inline void removeFolder(const QString &path)
{
    if (path.isEmpty())
        return;
    QDir dir(path);
    const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            removeFolder(entry.filePath());
        else
            dir.remove(entry.fileName());
    }
    dir.rmdir(path);
}

// A new folder under the temporary folder, removed with what it holds
// (QTemporaryDir is Qt 5's).
class TestFolder
{
public:
    TestFolder()
    {
        QByteArray name = QDir::tempPath().toLocal8Bit() + "/teco_servo_test.XXXXXX";
        if (mkdtemp(name.data()))
            m_path = QString::fromLocal8Bit(name);
    }
    ~TestFolder() { removeFolder(m_path); }
    TestFolder(const TestFolder &) = delete;
    TestFolder &operator=(const TestFolder &) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    QString filePath(const QString &name) const { return m_path + QLatin1Char('/') + name; }

private:
    QString m_path;
};

#endif // QT_TEST_COMPAT_H
