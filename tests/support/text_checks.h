#ifndef TEXT_CHECKS_H
#define TEXT_CHECKS_H

// Checks of a text for EXPECT_TRUE that, failing, print the part looked for
// and the whole text, so that a failed check shows what came instead.
// Only what Qt 4.7's QString has; matches() is Qt 5's, as is QRegularExpression.
#include <QString>
#if QT_VERSION >= 0x050000
#include <QRegularExpression>
#endif

#include <gtest/gtest.h>

// A part to look for: a QString, or a literal taken as Latin-1 as
// QLatin1String takes it.
struct TextPart : QString
{
    TextPart(const QString &text) : QString(text) {}
    TextPart(QLatin1String text) : QString(text) {}
    TextPart(const char *text) : QString(QLatin1String(text)) {}
    TextPart(QChar c) : QString(c) {}
    TextPart(QLatin1Char c) : QString(QChar(c)) {}
};

inline ::testing::AssertionResult textCheck(bool ok, const char *what, const QString &part, const QString &text)
{
    if (ok)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << " \"" << qPrintable(part) << "\" in:\n" << qPrintable(text);
}

inline ::testing::AssertionResult holds(const QString &text, const TextPart &part)
{
    return textCheck(text.contains(part), "no", part, text);
}

// Exactly one occurrence: a message printed twice fails as one missing does.
inline ::testing::AssertionResult holdsOnce(const QString &text, const TextPart &part)
{
    const int times = text.count(part);
    return textCheck(times == 1, times ? "more than one" : "no", part, text);
}

inline ::testing::AssertionResult beginsWith(const QString &text, const TextPart &part)
{
    return textCheck(text.startsWith(part), "not beginning with", part, text);
}

inline ::testing::AssertionResult endsWith(const QString &text, const TextPart &part)
{
    return textCheck(text.endsWith(part), "not ending with", part, text);
}

#if QT_VERSION >= 0x050000
// The pattern matches somewhere in the text (anchor it with ^ and $ for all).
inline ::testing::AssertionResult matches(const QString &text, const TextPart &pattern)
{
    return textCheck(QRegularExpression(pattern).match(text).hasMatch(), "no match for", pattern, text);
}
#endif

#endif // TEXT_CHECKS_H
