#ifndef TECO_SERVO_TEXTS_H
#define TECO_SERVO_TEXTS_H

// Every failure text the driver leaves in lastError, in one place: the driver
// writes them from here, and servoctl's hints, the soak's and the fuzz
// targets' checks recognise them from here. printf formats where a number or
// a name follows; "…to " and "…from " texts are followed by the address as
// the command gave it. Plain arrays: internal to each user, never exported.
namespace TecoServoText {

// What the line did with a transaction.
constexpr char NoResponse[] = "PLC no response";
constexpr char ShortAnswer[] = "received bytes < %d"; // the shortest answer
constexpr char OtherStation[] = "invalid slave id:%d";
constexpr char Exception[] = "exception code:0x%02X";
constexpr char CrcError[] = "CRC error";
constexpr char PacketLoss[] = "packet loss";
constexpr char InvalidResponse[] = "invalid response";

// What the driver refuses before sending anything.
constexpr char UnsupportedType[] = "unsupported data type: ";
// Area name and register number (one-based).
constexpr char ReadWordRange[] = "can't read any word from %s%d";
constexpr char ReadDWordRange[] = "can't read any double word from %s%d";
constexpr char ReadByteRange[] = "can't read any byte from %s%d";
constexpr char ReadBitRange[] = "can't read %d bits from %s%u";
constexpr char WriteWordRange[] = "can't write any word to HR%d";
constexpr char WriteDWordRange[] = "can't write any double word to HR%d";
constexpr char WriteByteRange[] = "can't write any byte to HR%d";
constexpr char WriteBitInStore[] = "can't write any bit to HR%d";
constexpr char WriteCoilRange[] = "can't write %d bits to DO%d";
// Then the command's address.
constexpr char ReadNoBit[] = "can't read any bit from ";
constexpr char ReadBitCount[] = "can't read %d bits from ";
constexpr char WriteNoBit[] = "can't write any bit to ";
constexpr char WriteNoByte[] = "can't write any byte to ";
constexpr char WriteNoWord[] = "can't write any word to ";
constexpr char WriteNoDWord[] = "can't write any double word to ";

// Appended to a failed command's text for data types 0 to 3 (bit, byte,
// word, double word): the count and station, then the address and ")".
constexpr const char *ReadDescription[] = {" (read %d bit(s) from %d-", " (read %d byte(s) from %d-",
                                           " (read %d word(s) from %d-", " (read %d dword(s) from %d-"};
constexpr const char *WriteDescription[] = {" (write %d bit to %d-", " (write %d byte to %d-",
                                            " (write %d word to %d-", " (write %d dword to %d-"};

} // namespace TecoServoText

#endif // TECO_SERVO_TEXTS_H
