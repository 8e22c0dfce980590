#ifndef CRC16_H
#define CRC16_H

#include <QtGlobal>

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR. The camera checks it on every epc660 LUT packet and the bootloader on
// every firmware packet. Pass the previous result as `crc` to continue a CRC
// over data that arrives in pieces. "123456789" gives 0x31C3.
quint16 crc16Xmodem(const char *data, int length, quint16 crc = 0);

#endif // CRC16_H
