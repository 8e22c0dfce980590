// The device-information reply as read from the port, in pieces of any size,
// and the lens packet. Byte 0 picks a sensor size small enough that the fuzzer
// can build whole replies; byte 1 the size of the reads; the rest drives a
// generator of replies, blocks one byte off and junk. The reader must give
// exactly the first well-formed block with status 10 that follows a boundary.

#include "BlockStream.h"
#include "device/DeviceState.h"
#include "deviceinfo/DeviceInfoReply.h"
#include "deviceinfo/LensPacket.h"

#include <QByteArray>
#include <QStringList>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int pixelCount = data[0] == 0 ? 9600 : 15 + data[0];
    const int chunk = data[1] == 0 ? int(size) : data[1] % 64 + 1;
    const QByteArray stream(reinterpret_cast<const char *>(data + 2), int(size - 2));
    const QVector<int> lengths = DeviceInfoReply::acceptedLengths(pixelCount);
    // Marker copies inside one accepted length can end a block of the other.
    const BlockStream generated(data + 2, size - 2, std::vector<int>(lengths.begin(), lengths.end()), false);
    const QByteArray bytes = QByteArray::fromStdString(generated.bytes);
    QByteArray expected;
    for (const std::string &block : generated.taken) {
        if (quint8(block.back()) == DeviceInfoReply::ReplyStatus) {
            expected = QByteArray::fromStdString(block).left(DeviceInfoReply::PayloadLength);
            break;
        }
    }

    DeviceInfoReplyReader reader(pixelCount);
    for (int pos = 0; pos < bytes.size(); pos += chunk) {
        if (reader.append(bytes.mid(pos, chunk))) {
            const QByteArray payload
                = DeviceInfoReply::encodeBlock(reader.reply(), DeviceInfoReply::PayloadLength + 4)
                      .left(DeviceInfoReply::PayloadLength);
            if (payload != expected)
                std::abort();
            expected.clear();
            DeviceState state;
            DeviceInfoReply::applyTo(state, reader.reply());
            const QStringList lines = DeviceInfoReply::summaryLines(state, data[0] & 3);
            if (lines.size() != 7)
                std::abort();
            break;
        }
        if (reader.bufferedBytes() >= lengths.first() + 4)
            std::abort();
    }
    if (!expected.isEmpty())
        std::abort();

    // A block the camera would send decodes to what it was built from.
    if (const auto decoded = DeviceInfoReply::decodeBlock(stream, pixelCount)) {
        if (DeviceInfoReply::encodeBlock(*decoded, stream.size()).left(DeviceInfoReply::PayloadLength)
            != stream.left(DeviceInfoReply::PayloadLength))
            std::abort();
    }

    // Every lens packet survives a round trip through the application's units.
    LensPacket::Values lens;
    const QByteArray packet = stream.left(LensPacket::PacketLength);
    if (LensPacket::parse(packet, &lens) && LensPacket::build(lens) != packet)
        std::abort();
    return 0;
}
