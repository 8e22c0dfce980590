#include "firmware/BootloaderReplyReader.h"
#include "firmware/FirmwareTransfer.h"

#include <cstddef>
#include <cstdint>

namespace {

bool sameReplies(const QVector<BootloaderReply> &a, const QVector<BootloaderReply> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].code != b[i].code || a[i].value != b[i].value)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    // The replies must not depend on how the port cut the bytes into reads.
    BootloaderReplyReader whole;
    const QVector<BootloaderReply> expected = whole.feed(bytes);
    if (whole.pendingBytes() > 3)
        __builtin_trap();

    BootloaderReplyReader byByte;
    QVector<BootloaderReply> replies;
    for (char byte : bytes) {
        replies += byByte.feed(QByteArray(1, byte));
        if (byByte.pendingBytes() > 3)
            __builtin_trap();
    }
    if (!sameReplies(expected, replies))
        __builtin_trap();

    BootloaderReplyReader pieces;
    replies.clear();
    int pos = 0;
    for (int i = 0; pos < bytes.size(); ++i) {
        const int length = 1 + (size > 0 ? data[i % size] % 17 : 0);
        replies += pieces.feed(bytes.mid(pos, length));
        pos += length;
    }
    if (!sameReplies(expected, replies))
        __builtin_trap();

    // Whatever the bootloader says, a transfer sends only well-formed messages
    // and never more packets than the image has.
    const int imageSize = size > 1 ? (data[0] << 8 | data[1]) % (Bootloader::MaxImageSize + 1) : 0;
    const int packetLimit = (imageSize + Bootloader::PacketDataSize - 1) / Bootloader::PacketDataSize;
    FirmwareTransfer transfer;
    transfer.start(QByteArray(imageSize, '\x5A'));
    int packets = 0;
    for (const BootloaderReply &reply : expected) {
        const FirmwareTransfer::Step step = transfer.handleReply(reply);
        if (reply.code == BootloaderReply::Ready)
            packets = 0; // the bootloader started over
        if (step.bytes.size() == Bootloader::PacketSize)
            ++packets;
        else if (!step.bytes.isEmpty() && step.bytes.size() != 3 && step.bytes.size() != 7)
            __builtin_trap();
        if (packets > packetLimit || step.progress > 6000 * (packetLimit + 1))
            __builtin_trap();
        if (step.finished) {
            packets = 0;
            transfer.start(QByteArray(imageSize, '\x5A'));
        }
    }
    return 0;
}
