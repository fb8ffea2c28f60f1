#include "txpackage.h"

#include <climits>
#include <cstring>

#include "qt_compat.h"
#include "tools.h"
#include "tools_p.h"

namespace {

qint64 sumOfEntries(const QList<int> &sizes, int count)
{
    qint64 sum = 0;
    for (int i = 0; i < count; ++i)
        sum += sizes.at(i);
    return sum;
}

const unsigned char *bytesOf(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

QString upperHex(unsigned int value)
{
    return QtCompat::asprintf("%02X", value).toUpper();
}

} // namespace

QList<int> EmptyPackageSizeList()
{
    return QList<int>();
}

TxPackage::TxPackage() = default;

TxPackage::~TxPackage() = default;

bool TxPackage::setData(const QByteArray &bytes)
{
    m_data = bytes;
    return true;
}

bool TxPackage::setData(char *bytes, int length)
{
    if (bytes == nullptr || length < 0)
        return false;
    m_data.clear();
    m_data.append(bytes, length);
    return true;
}

char *TxPackage::data()
{
    return m_data.data();
}

QByteArray TxPackage::byteArrayData() const
{
    return m_data;
}

int TxPackage::totalSize() const
{
    return m_data.size();
}

int TxPackage::numberOfSections() const
{
    return m_sectionSizes.size();
}

bool TxPackage::validSectionNumber(int n) const
{
    return n >= 0 && n < m_sectionSizes.size();
}

int TxPackage::sectionStartIndex(int n) const
{
    if (!validSectionNumber(n))
        return -1;
    const qint64 start = sumOfEntries(m_sectionSizes, n);
    return start < INT_MIN || start > INT_MAX ? -1 : int(start);
}

int TxPackage::sectionSize(int n) const
{
    if (!validSectionNumber(n))
        return 0;
    const int entry = m_sectionSizes.at(n);
    if (entry >= 0)
        return entry;
    // The length lives in another section, which must hold a plain length
    // of at least four bytes that lie inside the buffer.
    const qint64 k = -qint64(entry);
    if (k == n || k >= m_sectionSizes.size() || m_sectionSizes.at(int(k)) < 4)
        return 0;
    const int start = sectionStartIndex(int(k));
    if (start < 0 || qint64(start) + 4 > m_data.size())
        return 0;
    return qMax(QByteArrayToInt(m_data.mid(start, 4)), 0);
}

QByteArray TxPackage::dataAt(int n) const
{
    const int start = sectionStartIndex(n);
    if (start < 0)
        return QByteArray();
    return m_data.mid(start, sectionSize(n));
}

int TxPackage::arrayToInt(const QByteArray &a) const
{
    return a.isEmpty() ? 0 : static_cast<unsigned char>(a.at(0));
}

bool TxPackage::appendSection(const QByteArray &bytes)
{
    m_data.append(bytes);
    m_sectionSizes.append(bytes.size());
    return true;
}

bool TxPackage::appendByte(unsigned char b)
{
    return appendSection(QByteArray(1, char(b)));
}

bool TxPackage::appendWord(unsigned short w)
{
    return appendSection(wordToByteArray(w));
}

bool TxPackage::appendDWord(unsigned int d)
{
    return appendSection(intToByteArray(int(d)));
}

bool TxPackage::appendString(const QString &s)
{
    return appendSection(s.toLatin1());
}

bool TxPackage::appendByte2Ascii(unsigned char b)
{
    return appendString(upperHex(b));
}

bool TxPackage::appendLRCByte()
{
    return appendByte(UInt8CheckSum(bytesOf(m_data), m_data.size()));
}

bool TxPackage::appendLRCAscii()
{
    return appendSection(upperHex(UInt8CheckSum(bytesOf(m_data), m_data.size())).toLatin1());
}

int TxPackage::calculateFCS(TxPackage *package, int n)
{
    if (package == nullptr)
        return 0;
    const QByteArray &bytes = package->m_data;
    const qint64 end = qMin(qint64(bytes.size()) - n, qint64(bytes.size()));
    return end <= 0 ? 0 : XorUInt8CheckSum(bytesOf(bytes), int(end));
}

bool TxPackage::appendFCSAscii(int)
{
    return appendSection(upperHex(unsigned(calculateFCS(this, 0))).toLatin1());
}

void TxPackage::clearAll()
{
    m_data.clear();
    m_sectionSizes.clear();
}

void TxPackage::setSectionSize(const QList<int> &sizes)
{
    const qint64 total = sumOfEntries(sizes, sizes.size());
    if (total > INT_MAX)
        return;
    m_sectionSizes = sizes;
    m_data.resize(int(qMax<qint64>(total, 0)));
}

QString TxPackage::toString()
{
    return bytesAsHexAndText(m_data);
}
