#include "lib_crc.h"

#include <array>
#include <cstdint>

namespace {

// Tables are built by the compiler, so no first call has to fill them and
// concurrent first use needs no lock.
template <typename T>
constexpr std::array<T, 256> reflectedTable(T polynomial)
{
    std::array<T, 256> table{};
    for (unsigned int i = 0; i < 256; ++i) {
        T crc = 0;
        unsigned int c = i;
        for (int bit = 0; bit < 8; ++bit, c >>= 1)
            crc = ((crc ^ c) & 1u) ? T((crc >> 1) ^ polynomial) : T(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> ccittTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned int i = 0; i < 256; ++i) {
        unsigned int crc = 0;
        unsigned int c = i << 8;
        for (int bit = 0; bit < 8; ++bit, c <<= 1)
            crc = (((crc ^ c) & 0x8000u) ? (crc << 1) ^ 0x1021u : crc << 1) & 0xFFFFu;
        table[i] = std::uint16_t(crc);
    }
    return table;
}

constexpr auto crc_tab16 = reflectedTable<std::uint16_t>(0xA001);
constexpr auto crc_tabkermit = reflectedTable<std::uint16_t>(0x8408);
constexpr auto crc_tabdnp = reflectedTable<std::uint16_t>(0xA6BC);
constexpr auto crc_tab32 = reflectedTable<std::uint32_t>(0xEDB88320u);
constexpr auto crc_tabccitt = ccittTable();

static_assert(crc_tab16[1] == 0xC0C1, "CRC-16 table");
static_assert(crc_tab32[1] == 0x77073096u, "CRC-32 table");
static_assert(crc_tabccitt[3] == 0x3063, "CCITT table");

// Plain char is signed on some hosts and unsigned on others.
constexpr unsigned int byteOf(char c)
{
    return static_cast<unsigned char>(c);
}

unsigned short updateReflected16(const std::array<std::uint16_t, 256> &table, unsigned short crc, char c)
{
    return static_cast<unsigned short>(table[(crc ^ byteOf(c)) & 0xFFu] ^ (crc >> 8));
}

} // namespace

extern "C" {

unsigned short update_crc_16(unsigned short crc, char c)
{
    return updateReflected16(crc_tab16, crc, c);
}

unsigned short update_crc_kermit(unsigned short crc, char c)
{
    return updateReflected16(crc_tabkermit, crc, c);
}

unsigned short update_crc_dnp(unsigned short crc, char c)
{
    return updateReflected16(crc_tabdnp, crc, c);
}

unsigned short update_crc_ccitt(unsigned short crc, char c)
{
    return static_cast<unsigned short>(crc_tabccitt[((crc >> 8) ^ byteOf(c)) & 0xFFu] ^ ((crc << 8) & 0xFFFFu));
}

unsigned int update_crc_32(unsigned int crc, char c)
{
    return crc_tab32[(crc ^ byteOf(c)) & 0xFFu] ^ ((crc >> 8) & 0x00FFFFFFu);
}

unsigned short update_crc_sick(unsigned short crc, char c, char prev)
{
    unsigned int next = (crc & 0x8000u) ? (unsigned(crc) << 1) ^ 0x8005u : unsigned(crc) << 1;
    next &= 0xFFFFu;
    return static_cast<unsigned short>(next ^ ((byteOf(prev) << 8) | byteOf(c)));
}

} // extern "C"
