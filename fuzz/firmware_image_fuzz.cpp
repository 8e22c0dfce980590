#include "device/Crc16.h"
#include "firmware/FirmwareCipher.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareTransfer.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace {

const QByteArray Tag("Morvane Kavrix M10");

// One file for all inputs, removed when the fuzzer exits.
struct ScratchFile
{
    const QString path = QDir::tempPath() + QStringLiteral("/quarvel-fuzz-image-%1.bin").arg(getpid());
    ~ScratchFile() { QFile::remove(path); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray image(reinterpret_cast<const char *>(data), int(size));
    static const ScratchFile scratch;

    // Loading gives back the file byte for byte and judges its size.
    {
        QFile file(scratch.path);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
            return 0;
    }
    const FirmwareFile::LoadResult loaded = FirmwareFile::load(scratch.path);
    if (loaded.data != image
        || (loaded.status == FirmwareFile::LoadStatus::Loaded) != Bootloader::isLegalImageSize(image.size()))
        __builtin_trap();

    // Scrambling: layout, and every full block comes back through the inverse.
    const QByteArray tof = FirmwareCipher::encrypt(image, Tag);
    if (tof.size() != FirmwareCipher::encryptedSize(image.size(), int(Tag.size())))
        __builtin_trap();
    char block[FirmwareCipher::BlockSize];
    for (int offset = 0; offset < image.size(); offset += FirmwareCipher::BlockSize) {
        const int count = qMin(FirmwareCipher::BlockSize, int(image.size()) - offset);
        std::memcpy(block, tof.constData() + offset, sizeof block);
        FirmwareCipher::unscrambleBlock(block);
        if (std::memcmp(block, image.constData() + offset, size_t(count)) != 0)
            __builtin_trap();
    }

    // Packets: each carries a valid CRC and its index, and together they rebuild the image.
    FirmwarePacketBuilder packets;
    packets.reset(image);
    QByteArray rebuilt;
    for (int k = 0; !packets.atEnd(); ++k) {
        const QByteArray packet = packets.nextPacket();
        if (packet.size() != Bootloader::PacketSize || quint8(packet.at(62)) != quint8(k)
            || packet.at(63) != '#')
            __builtin_trap();
        const quint16 crc = crc16Xmodem(packet.constData(), 60);
        if (quint8(packet.at(60)) != quint8(crc >> 8) || quint8(packet.at(61)) != quint8(crc))
            __builtin_trap();
        rebuilt += packet.left(60);
    }
    if (rebuilt.left(image.size()) != image || rebuilt.size() != packets.packetCount() * 60)
        __builtin_trap();
    return 0;
}
