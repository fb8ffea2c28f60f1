#include <cstdio>

#include <lib_crc.h>
#include <tools.h>

// Packs a Modbus RTU request with the toolkit and prints it: read one
// holding register of station 1 is 01 03 00 00 00 01 84 0A.
int main()
{
    QByteArray frame = ByteArrayPack("CCnn", 1, 3, 0, 1);
    unsigned short crc = 0xFFFF;
    for (char c : frame)
        crc = update_crc_16(crc, c);
    frame += ByteArrayPack("v", crc);
    std::printf("%s\n", frame.toHex().constData());
    return frame.toHex() == "010300000001840a" ? 0 : 1;
}
