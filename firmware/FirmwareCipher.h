#ifndef FIRMWARECIPHER_H
#define FIRMWARECIPHER_H

#include <QByteArray>

// The scrambled ".tof" firmware form: the image in 60-byte blocks, each passed
// through a fixed keyless transform T, then a product tag. Only the bootloader
// undoes it; the inverse is here to check the transform.
namespace FirmwareCipher {

constexpr int BlockSize = 60;

// T, in place on one 60-byte block: a fixed permutation of the bits of every
// byte, then the six 10-byte groups G0..G5 reordered as G4 G2 G5 G1 G0 G3.
void scrambleBlock(char *block);
// The inverse of T.
void unscrambleBlock(char *block);

// The bit permutation of T alone, and its inverse.
quint8 scrambleByte(quint8 byte);
quint8 unscrambleByte(quint8 byte);

// The whole .tof file for `image`: T of every full block; if the length is not a
// multiple of 60, T of a last block holding the remaining bytes followed by what
// the previous block left in the work buffer (zeros for an image shorter than
// 60 bytes); then the tag as QDataStream writes a const char *: its length with
// the terminating zero as 32-bit big-endian, its bytes and the zero.
QByteArray encrypt(const QByteArray &image, const QByteArray &productTag);

// Size of encrypt()'s result.
qint64 encryptedSize(qint64 imageSize, int tagLength);

} // namespace FirmwareCipher

#endif // FIRMWARECIPHER_H
