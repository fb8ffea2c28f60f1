#ifndef RTULENGTH_H
#define RTULENGTH_H

// The lengths of Modbus RTU frames, CRC included, as their headers give
// them: the one place that knows them. Each returns -1 when more bytes are
// needed to know, and 0 for a function whose frames have no length a
// listener can know.

// A request beginning data: 8 bytes for functions 1 to 6, 9 plus the byte
// count for 15 and 16.
int rtuRequestLength(const char *data, int size);

// An answer beginning data: 5 for an exception, 8 for a write
// acknowledgement, 5 plus the byte count for a read.
int rtuAnswerLength(const char *data, int size);

// The normal answer to the whole request data is (5 plus the bytes the
// items take for a read, 8 for a write); 0 when data is no request of a
// known function and length, or asks for more than an answer can carry.
int rtuAnswerLengthFor(const char *data, int size);

#endif // RTULENGTH_H
