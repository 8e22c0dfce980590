#include "device/Crc16.h"

#include <array>

namespace {

// One table lookup per byte instead of eight shifts: the firmware transfer and
// the 1.77 million-value LUT transfer checksum every byte they send.
constexpr std::array<quint16, 256> makeTable()
{
    std::array<quint16, 256> table {};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
        table[std::size_t(i)] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> crcTable = makeTable();

} // namespace

quint16 crc16Xmodem(const char *data, int length, quint16 crc)
{
    for (int i = 0; i < length; ++i) {
        const quint8 index = quint8((crc >> 8) ^ quint8(data[i]));
        crc = quint16((crc << 8) ^ crcTable[index]);
    }
    return crc;
}
