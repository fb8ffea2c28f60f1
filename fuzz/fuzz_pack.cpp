// VDataPack, VByteArrayPack and VDataUnpack with arbitrary formats, each
// given buffers of exactly the size its format covers (so that one byte
// too far is an AddressSanitizer finding), and HexToUInt on texts with and
// without a terminating zero.
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "tools.h"

namespace {

const int MAX_ARGUMENTS = 6;
const qint64 MAX_EXTENT = 1 << 16;

enum class Outcome { Ok, BadCharacter, BadCount };

// One argument of the variable list: a value or a buffer of its own.
struct Argument
{
    bool pointer = false;
    int value = 0;
    std::unique_ptr<unsigned char[]> buffer;
};

// The format as the packing language defines it, read independently of the
// toolkit: the arguments it takes, how far it reaches, and its outcome.
struct FormatModel
{
    Outcome outcome = Outcome::Ok;
    qint64 total = 0;                  // bytes covered, skips included
    qint64 extent = 0;                 // end of the bytes really read or written
    std::vector<qint64> argumentBytes; // -1: an int; else a buffer of that size
};

int letterWidth(char c)
{
    switch (c) {
    case 'C':
    case 'c':
        return 1;
    case 'S':
    case 's':
    case 'v':
    case 'n':
        return 2;
    case 'I':
    case 'L':
    case 'i':
    case 'l':
    case 'V':
    case 'N':
        return 4;
    case 'x':
    case 'X':
        return 1;
    default:
        return 0;
    }
}

bool countable(char c)
{
    return c == 'C' || c == 'c' || c == 'v' || c == 'n' || c == 'V' || c == 'N';
}

// engine: 0 DataPack, 1 ByteArrayPack, 2 DataUnpack.
FormatModel model(const char *fmt, int engine)
{
    FormatModel m;
    while (*fmt) {
        bool counted = false;
        qint64 count = 1;
        if (*fmt >= '0' && *fmt <= '9') {
            counted = true;
            count = 0;
            for (; *fmt >= '0' && *fmt <= '9'; ++fmt) {
                count = count * 10 + (*fmt - '0');
                if (count > INT_MAX) { // the toolkit's limit: no length may wrap
                    m.outcome = Outcome::BadCount;
                    return m;
                }
            }
            if (*fmt == '\0') {
                m.outcome = Outcome::BadCount;
                return m;
            }
        }
        const char letter = *fmt;
        const int width = letterWidth(letter);
        if (width == 0) {
            m.outcome = Outcome::BadCharacter;
            return m;
        }
        ++fmt;
        const bool skip = letter == 'x' || letter == 'X';
        if (counted && ((!skip && !countable(letter)) || (skip && engine == 1) || (!skip && count == 0))) {
            m.outcome = Outcome::BadCount;
            return m;
        }
        const qint64 length = count * width;
        if (m.total + length > INT_MAX) {
            m.outcome = Outcome::BadCount;
            return m;
        }
        if (skip) {
            // A DataPack X leaves the buffer alone; every other skip of the
            // packers writes zeros, the unpacker's skips read nothing.
            const bool writes = engine == 1 || (engine == 0 && letter == 'x');
            m.total += length;
            if (writes)
                m.extent = m.total;
            continue;
        }
        m.argumentBytes.push_back(counted || engine == 2 ? (counted ? length : width) : -1);
        m.total += length;
        m.extent = m.total;
    }
    return m;
}

// Calls a variadic engine with the arguments in their types, an int or a
// pointer each.
template <typename F, typename... Args>
int callWith(F &&f, const std::vector<Argument> &args, size_t i, Args... given)
{
    if constexpr (sizeof...(Args) >= MAX_ARGUMENTS) {
        return f(given...);
    } else {
        if (i == args.size())
            return f(given...);
        if (args[i].pointer)
            return callWith(f, args, i + 1, given..., static_cast<void *>(args[i].buffer.get()));
        return callWith(f, args, i + 1, given..., args[i].value);
    }
}

std::vector<Argument> makeArguments(const FormatModel &m, FuzzInput &in)
{
    std::vector<Argument> args(m.argumentBytes.size());
    for (size_t i = 0; i < args.size(); ++i) {
        const qint64 bytes = m.argumentBytes[i];
        if (bytes < 0) {
            args[i].value = in.i32();
            continue;
        }
        args[i].pointer = true;
        args[i].buffer.reset(new unsigned char[size_t(qMax<qint64>(bytes, 1))]);
        const QByteArray fill = in.bytes(size_t(bytes));
        std::memset(args[i].buffer.get(), 0xA5, size_t(bytes));
        std::memcpy(args[i].buffer.get(), fill.constData(), size_t(fill.size()));
    }
    return args;
}

void fuzzFormat(FuzzInput &in, const QByteArray &format)
{
    const char *fmt = format.constData();
    for (int engine = 0; engine < 3; ++engine) {
        const FormatModel m = model(fmt, engine);
        if (m.argumentBytes.size() > size_t(MAX_ARGUMENTS) || m.extent > MAX_EXTENT)
            continue;
        const std::vector<Argument> args = makeArguments(m, in);
        // Exactly the bytes the format reaches; libFuzzer's own allocator
        // would round up, so the buffer comes from new[].
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[size_t(qMax<qint64>(m.extent, 1))]);
        std::memset(buffer.get(), 0, size_t(qMax<qint64>(m.extent, 1)));
        if (engine == 0) {
            const int result = callWith([&](auto... a) { return DataPack(buffer.get(), fmt, a...); }, args, 0);
            const int expected = m.outcome == Outcome::Ok             ? int(m.total)
                                 : m.outcome == Outcome::BadCharacter ? 0
                                                                      : -1;
            if (result != expected)
                fuzzFailure("DataPack result",
                            QStringLiteral("%1 for %2, expected %3").arg(result).arg(QLatin1String(format)).arg(expected));
        } else if (engine == 1) {
            QByteArray packed;
            callWith(
                [&](auto... a) {
                    packed = ByteArrayPack(fmt, a...);
                    return 0;
                },
                args, 0);
            if (packed.size() != (m.outcome == Outcome::Ok ? m.total : 0))
                fuzzFailure("ByteArrayPack size", QLatin1String(format));
        } else {
            const QByteArray input = in.bytes(size_t(m.extent));
            std::memcpy(buffer.get(), input.constData(), size_t(input.size()));
            const int result = callWith([&](auto... a) { return DataUnpack(buffer.get(), fmt, a...); }, args, 0);
            if (result != (m.outcome == Outcome::Ok ? int(m.total) : -1))
                fuzzFailure("DataUnpack result", QLatin1String(format));
        }
    }
}

// HexToUInt read another way than the toolkit reads it: take the text len
// covers (up to a terminating zero), drop a "0x" or "0" in front, refuse it
// whole for any character that is no hexadecimal digit, and let strtoul
// read the last eight digits (32 bits keep only those).
unsigned int hexReference(const char *s, int len)
{
    std::string text;
    for (int i = 0; i < len && s[i] != '\0'; ++i)
        text.push_back(s[i]);
    if (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0)
        text.erase(0, 2);
    else if (text.compare(0, 1, "0") == 0)
        text.erase(0, 1);
    if (text.empty() || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return 0;
    const std::string last = text.size() > 8 ? text.substr(text.size() - 8) : text;
    return unsigned(std::strtoul(last.c_str(), nullptr, 16));
}

void fuzzHex(FuzzInput &in)
{
    const QByteArray text = in.bytes(in.u8() % 24);
    const bool terminated = in.flag();
    // Without a terminating zero len stays inside the text; with one, len
    // may reach past it.
    const int len = terminated ? int(in.u8()) - 8 : int(in.u8() % (text.size() + 1));
    const size_t bytes = size_t(text.size()) + (terminated ? 1 : 0);
    std::unique_ptr<char[]> s(new char[qMax<size_t>(bytes, 1)]);
    std::memcpy(s.get(), text.constData(), size_t(text.size()));
    if (terminated)
        s[size_t(text.size())] = '\0';
    if (HexToUInt(s.get(), len) != hexReference(s.get(), len))
        fuzzFailure("HexToUInt differs for", QString::fromLatin1(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    while (!in.atEnd()) {
        if (in.u8() & 1) {
            fuzzHex(in);
            continue;
        }
        // A format without zero bytes, up to 32 characters.
        QByteArray format = in.bytes(in.u8() % 33);
        format.truncate(format.indexOf('\0') < 0 ? format.size() : format.indexOf('\0'));
        fuzzFormat(in, format);
    }
    return 0;
}
