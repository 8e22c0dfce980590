#include "firmware/BootloaderReplyReader.h"
#include "firmware/FirmwareTransfer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A stream of replies and junk (free of 'D' and '*') with and without a
    // marker, cut into reads by the input. A reply must be taken exactly when
    // it starts where one can: at the start, after a reply or a marker, or at
    // the start of a read.
    static const quint8 Codes[] = { BootloaderReply::Ready, BootloaderReply::SizeReceived,
        BootloaderReply::PacketReceived, BootloaderReply::QueryAnswer };
    QByteArray bytes;
    QVector<int> readStarts { 0 };
    QVector<BootloaderReply> expected;
    bool boundary = true;
    size_t at = 0;
    auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    while (at < size) {
        const uint8_t op = next();
        if (op & 0x80)
            readStarts.append(bytes.size());
        if (op % 3 == 0) {
            BootloaderReply reply;
            reply.code = Codes[(op >> 2) % 4];
            bytes += "DD";
            bytes += char(reply.code);
            if (reply.code == BootloaderReply::QueryAnswer) {
                reply.value = next();
                bytes += char(reply.value);
            }
            const int start = bytes.size() - (reply.code == BootloaderReply::QueryAnswer ? 4 : 3);
            // A reply not taken is junk to the reader: no boundary after it.
            boundary = boundary || readStarts.last() == start;
            if (boundary)
                expected.append(reply);
        } else {
            const int n = 1 + next() % 32;
            for (int i = 0; i < n; ++i) {
                const char c = char(next());
                bytes += (c == 'D' || c == '*') ? 'x' : c;
            }
            boundary = op % 3 == 1;
            if (boundary)
                bytes += "*##*";
        }
        if ((op & 0x40) && readStarts.last() != bytes.size())
            readStarts.append(bytes.size());
    }
    readStarts.append(bytes.size());

    BootloaderReplyReader reader;
    QVector<BootloaderReply> replies;
    for (int i = 0; i + 1 < readStarts.size(); ++i) {
        replies += reader.feed(bytes.mid(readStarts[i], readStarts[i + 1] - readStarts[i]));
        if (reader.pendingBytes() > 3)
            __builtin_trap();
    }
    const auto same = [](const BootloaderReply &a, const BootloaderReply &b) {
        return a.code == b.code && a.value == b.value;
    };
    if (replies.size() != expected.size()
        || !std::equal(replies.begin(), replies.end(), expected.begin(), same))
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
