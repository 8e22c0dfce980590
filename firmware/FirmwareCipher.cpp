#include "firmware/FirmwareCipher.h"

#include <QtEndian>

#include <array>
#include <cstring>

namespace FirmwareCipher {

namespace {

// Output bit i of the byte permutation takes input bit SourceBit[i].
constexpr int SourceBit[8] = { 3, 0, 6, 2, 7, 4, 1, 5 };

// Output group i of the shuffle is input group SourceGroup[i].
constexpr int SourceGroup[6] = { 4, 2, 5, 1, 0, 3 };
constexpr int GroupSize = BlockSize / 6;

struct ByteTables
{
    std::array<quint8, 256> forward {};
    std::array<quint8, 256> inverse {};

    constexpr ByteTables()
    {
        for (int value = 0; value < 256; ++value) {
            int out = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (value & (1 << SourceBit[bit]))
                    out |= 1 << bit;
            }
            forward[size_t(value)] = quint8(out);
            inverse[size_t(out)] = quint8(value);
        }
    }
};

constexpr ByteTables Tables;

} // namespace

quint8 scrambleByte(quint8 byte)
{
    return Tables.forward[byte];
}

quint8 unscrambleByte(quint8 byte)
{
    return Tables.inverse[byte];
}

void scrambleBlock(char *block)
{
    char permuted[BlockSize];
    for (int i = 0; i < BlockSize; ++i)
        permuted[i] = char(Tables.forward[quint8(block[i])]);
    for (int group = 0; group < 6; ++group)
        std::memcpy(block + group * GroupSize, permuted + SourceGroup[group] * GroupSize, GroupSize);
}

void unscrambleBlock(char *block)
{
    char shuffled[BlockSize];
    std::memcpy(shuffled, block, BlockSize);
    for (int group = 0; group < 6; ++group)
        std::memcpy(block + SourceGroup[group] * GroupSize, shuffled + group * GroupSize, GroupSize);
    for (int i = 0; i < BlockSize; ++i)
        block[i] = char(Tables.inverse[quint8(block[i])]);
}

qint64 encryptedSize(qint64 imageSize, int tagLength)
{
    const qint64 blocks = (imageSize + BlockSize - 1) / BlockSize;
    return blocks * BlockSize + 4 + tagLength + 1;
}

QByteArray encrypt(const QByteArray &image, const QByteArray &productTag)
{
    QByteArray out;
    out.reserve(int(encryptedSize(image.size(), int(productTag.size()))));

    // One work buffer for all blocks: the tail block is built on top of the
    // previous block's output, which the bootloader expects.
    char work[BlockSize] = {};
    const int length = int(image.size());
    const int fullBlocks = length / BlockSize;
    for (int i = 0; i < fullBlocks; ++i) {
        std::memcpy(work, image.constData() + i * BlockSize, BlockSize);
        scrambleBlock(work);
        out.append(work, BlockSize);
    }
    const int rest = length - fullBlocks * BlockSize;
    if (rest > 0) {
        std::memcpy(work, image.constData() + fullBlocks * BlockSize, size_t(rest));
        scrambleBlock(work);
        out.append(work, BlockSize);
    }

    char lengthField[4];
    qToBigEndian(quint32(productTag.size() + 1), lengthField);
    out.append(lengthField, 4);
    out.append(productTag);
    out.append('\0');
    return out;
}

} // namespace FirmwareCipher
