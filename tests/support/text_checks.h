#ifndef TEXT_CHECKS_H
#define TEXT_CHECKS_H

// Checks of a text for EXPECT_TRUE that, failing, print the part looked for
// and the whole text. A literal part converts as QString's constructor does.
// Qt 5's (QRegularExpression): the tests built against Qt 4 do without.
#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

inline ::testing::AssertionResult textCheck(bool ok, const char *what, const QString &part, const QString &text)
{
    if (ok)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << " \"" << qPrintable(part) << "\" in:\n" << qPrintable(text);
}

inline ::testing::AssertionResult holds(const QString &text, const QString &part)
{
    return textCheck(text.contains(part), "no", part, text);
}

// Exactly once: a message said twice fails as one missing does.
inline ::testing::AssertionResult holdsOnce(const QString &text, const QString &part)
{
    return textCheck(text.count(part) == 1, "not exactly one", part, text);
}

inline ::testing::AssertionResult beginsWith(const QString &text, const QString &part)
{
    return textCheck(text.startsWith(part), "not beginning with", part, text);
}

inline ::testing::AssertionResult endsWith(const QString &text, const QString &part)
{
    return textCheck(text.endsWith(part), "not ending with", part, text);
}

// Unanchored: a pattern that must cover the whole text says so with ^ and $.
inline ::testing::AssertionResult matches(const QString &text, const QString &pattern)
{
    return textCheck(QRegularExpression(pattern).match(text).hasMatch(), "no match for", pattern, text);
}

#endif // TEXT_CHECKS_H
