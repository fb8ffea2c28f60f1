// TxPackage with arbitrary section lists: any entries (negative ones naming
// other sections, themselves, or nothing), mixed with appends and buffer
// replacements, and the queries on any section number, inside the list or
// just outside it.
// A list whose entries add up to more than 64 KiB is left out: the package
// then really allocates that much, by design.
#include "fuzz_input.h"
#include "txpackage.h"

namespace {

const qint64 MAX_TOTAL = 1 << 16;

void queryOne(TxPackage &package, int n)
{
    package.validSectionNumber(n);
    package.sectionStartIndex(n);
    const int size = package.sectionSize(n);
    const QByteArray bytes = package.dataAt(n);
    if (bytes.size() > package.totalSize() || size < 0)
        fuzzFailure("section", QStringLiteral("%1 of size %2").arg(n).arg(size));
}

// After each operation: the sections at both ends, the numbers just outside
// the list and one number the input picks; every section once at the end.
// Sweeping them all after every operation made the target quadratic in
// the operations of an input, without reaching any other code.
void query(TxPackage &package, int picked)
{
    const int sections = package.numberOfSections();
    for (const int n : {-1, 0, sections - 1, sections, picked % (sections + 3) - 1})
        queryOne(package, n);
}

void queryAll(TxPackage &package)
{
    for (int n = -2; n <= package.numberOfSections() + 1; ++n)
        queryOne(package, n);
}

int entry(FuzzInput &in)
{
    const uint8_t how = in.u8();
    switch (how % 4) {
    case 0:
        return -int(how / 4 % 8); // names another section
    case 1:
        return int(in.u8() % 16); // a small length
    case 2:
        return int(int16_t(in.u16()));
    default:
        return in.i32(); // anything, overflowing sums included
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    TxPackage package;
    while (!in.atEnd()) {
        switch (in.u8() % 10) {
        case 0: {
            QList<int> sizes;
            qint64 total = 0;
            for (int n = in.u8() % 12; n > 0; --n) {
                sizes.append(entry(in));
                total += sizes.last();
            }
            if (total <= MAX_TOTAL)
                package.setSectionSize(sizes);
            break;
        }
        case 1:
            package.setData(in.bytes(in.u8()));
            break;
        case 2: {
            QByteArray bytes = in.bytes(in.u8());
            package.setData(bytes.data(), int(in.u8() % (bytes.size() + 1)));
            break;
        }
        case 3:
            package.appendByte(in.u8());
            break;
        case 4:
            package.appendWord(in.u16());
            break;
        case 5:
            package.appendDWord(in.u32());
            break;
        case 6:
            package.appendSection(in.bytes(in.u8() % 32));
            break;
        case 7:
            package.appendString(QString::fromLatin1(in.bytes(in.u8() % 16)));
            break;
        case 8:
            package.appendByte2Ascii(in.u8());
            package.appendLRCByte();
            package.appendLRCAscii();
            package.appendFCSAscii(in.i32());
            break;
        default:
            TxPackage::calculateFCS(&package, in.i32());
            package.toString();
            if (in.u8() == 0)
                package.clearAll();
            break;
        }
        query(package, in.u8());
    }
    queryAll(package);
    return 0;
}
