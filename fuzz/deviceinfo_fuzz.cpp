// The device-information reply as read from the port, in pieces of any size,
// and the lens packet. Byte 0 picks a sensor size small enough that the fuzzer
// can build whole replies; byte 1 the size of the reads.

#include "app/DeviceState.h"
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

    DeviceInfoReplyReader reader(pixelCount);
    const int limit = 2 * (DeviceInfoReply::acceptedLengths(pixelCount).first() + 3) + chunk;
    for (int pos = 0; pos < stream.size(); pos += chunk) {
        if (reader.append(stream.mid(pos, chunk))) {
            DeviceState state;
            DeviceInfoReply::applyTo(state, reader.reply());
            const QStringList lines = DeviceInfoReply::summaryLines(state, data[0] & 3);
            if (lines.size() != 7)
                std::abort();
        }
        if (reader.bufferedBytes() > limit)
            std::abort();
    }

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
