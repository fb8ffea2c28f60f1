#ifndef FUZZ_INPUT_H
#define FUZZ_INPUT_H

// Shared pieces of the fuzz targets: a front-to-back reader of the fuzz
// input (so seeds can be written by hand, byte by byte), the tests' Modbus
// CRC, silent debug output and a hard stop for broken invariants.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "bitwise_crc.h"

class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    size_t remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos >= m_size; }

    // Past the end every number reads 0 and every run of bytes is empty.
    uint8_t u8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t u16()
    {
        const uint16_t high = u8();
        return uint16_t(high << 8 | u8());
    }
    uint32_t u32()
    {
        const uint32_t high = u16();
        return high << 16 | u16();
    }
    int32_t i32() { return int32_t(u32()); }
    bool flag() { return u8() & 1; }
    QByteArray bytes(size_t n)
    {
        n = qMin(n, remaining());
        const QByteArray result(reinterpret_cast<const char *>(m_data + m_pos), int(n));
        m_pos += n;
        return result;
    }
    QByteArray rest() { return bytes(remaining()); }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A broken invariant is a finding: say what and crash so that libFuzzer
// keeps the input.
[[noreturn]] inline void fuzzFailure(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "fuzz invariant broken: %s %s\n", what, qPrintable(detail));
    std::abort();
}

// The records' dump() and the toolkit's traces write debug messages; a fuzz
// run would drown in them.
void silenceQtMessages();

#endif // FUZZ_INPUT_H
