#ifndef TXPACKAGE_H
#define TXPACKAGE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "toolkit_global.h"

TOOLKIT_EXPORT QList<int> EmptyPackageSizeList();

// An outgoing frame built from numbered sections. A negative section entry
// -k means the section's length is the 32-bit integer at the start of
// section k.
class TOOLKIT_EXPORT TxPackage
{
public:
    TxPackage();
    ~TxPackage();

    bool setData(const QByteArray &bytes);
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
    static int calculateFCS(TxPackage *package, int n);
    bool appendFCSAscii(int unused);

    void clearAll();
    void setSectionSize(const QList<int> &sizes);
    QString toString();

private:
    Q_DISABLE_COPY(TxPackage)

    QByteArray *m_data;
    QList<int> m_sectionSizes;
    int m_appendedTotal;
};

#endif // TXPACKAGE_H
