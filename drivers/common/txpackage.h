#ifndef TXPACKAGE_H
#define TXPACKAGE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "toolkit_global.h"

TOOLKIT_EXPORT QList<int> EmptyPackageSizeList();

// An outgoing frame built from numbered sections. A negative section entry
// -k means the section's length is the 32-bit integer (host order) at the
// start of section k. Section n starts at the sum of entries 0 .. n-1 as
// stored.
//
// Bad section lists never make a query read outside the buffer:
// - sectionSize is 0 for an invalid n, and for a negative entry that names
//   itself, a section out of range, a section whose own entry is negative or
//   below 4, a section whose first 4 bytes lie outside the buffer, or whose
//   stored integer is negative.
// - dataAt is empty for an invalid n or a negative start, and is cut at the
//   end of the buffer.
class TOOLKIT_EXPORT TxPackage
{
public:
    TxPackage();
    ~TxPackage();

    bool setData(const QByteArray &bytes);
    // A null pointer or a negative length returns false and changes nothing.
    bool setData(char *bytes, int length);
    char *data();
    QByteArray byteArrayData() const;
    int totalSize() const;

    int numberOfSections() const;
    bool validSectionNumber(int n) const;
    int sectionStartIndex(int n) const;
    int sectionSize(int n) const;
    QByteArray dataAt(int n) const;
    int arrayToInt(const QByteArray &a) const;

    bool appendByte(unsigned char b);
    bool appendWord(unsigned short w);
    bool appendDWord(unsigned int d);
    bool appendString(const QString &s);
    bool appendSection(const QByteArray &bytes);
    bool appendByte2Ascii(unsigned char b);
    bool appendLRCByte();
    bool appendLRCAscii();
    // Exclusive-or of the bytes before index (length - n); a negative n
    // covers the whole buffer, a null package gives 0.
    static int calculateFCS(TxPackage *package, int n);
    bool appendFCSAscii(int unused);

    void clearAll();
    // Resizes the buffer to the entries' sum (empty when it is negative); a
    // list whose sum overflows an int is refused and nothing changes.
    void setSectionSize(const QList<int> &sizes);
    QString toString();

private:
    Q_DISABLE_COPY(TxPackage)

    QByteArray m_data;
    QList<int> m_sectionSizes;
};

#endif // TXPACKAGE_H
