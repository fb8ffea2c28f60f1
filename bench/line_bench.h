#ifndef LINE_BENCH_H
#define LINE_BENCH_H

#include <QString>

#include "linesettings.h"

// The baud rates measured.
inline constexpr int kBauds[] = {9600, 19200, 115200};

// Shared by line_bench's modes: 8 data bits, no parity, 2 stop bits.
LineSettings settingsFor(int baud);
QString fixed(double value, int decimals);
// A line of the Markdown output, flushed at once.
void print(const QString &text);

int runPort();

#endif // LINE_BENCH_H
