// Input: byte 0 picks the frame length (2 x pixels + 4, 1..32 pixels), byte 1
// seeds the sizes of the appended pieces, the rest drives a generator of
// well-formed frames, frames one byte off and junk with and without markers.
// The framer must take exactly the well-formed frames that follow a boundary,
// byte for byte, count every other marker-terminated block as dropped, and
// stay within its memory and search bounds. The depth filter runs on every frame.
#include "BlockStream.h"
#include "frames/DepthFilter.h"
#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t inputSize)
{
    if (inputSize < 2)
        return 0;
    const int pixels = 1 + input[0] % 32;
    const int length = FrameFormat::frameBytes(pixels);
    unsigned seed = input[1];
    const BlockStream stream(input + 2, inputSize - 2, { length }, true);
    const char *data = stream.bytes.data();
    const int size = int(stream.bytes.size());

    FrameFramer framer(length);
    DepthFilter filter(pixels);
    filter.setMode(seed % 4);
    std::vector<std::string> got;
    std::vector<quint16> values(static_cast<size_t>(pixels));
    for (int offset = 0; offset < size;) {
        seed = seed * 1103515245u + 12345u;
        const int piece = std::min(size - offset, 1 + int((seed >> 16) % unsigned(2 * length + 8)));
        framer.append(data + offset, piece);
        offset += piece;
        FrameFramer::Frame frame;
        while (framer.nextFrame(&frame)) {
            if (frame.size != length)
                abort();
            got.emplace_back(frame.data, size_t(frame.size));
            FrameFormat::readPixels(frame.data, pixels, values.data());
            filter.filterFrame(values.data());
        }
        if (framer.bufferedBytes() >= length + 4)
            abort();
    }
    // Bytes without a marker settle what still waits for a frame's length.
    const std::string settle(size_t(length + 4), '+');
    framer.append(settle.data(), int(settle.size()));
    FrameFramer::Frame frame;
    if (framer.nextFrame(&frame))
        abort();
    if (got != stream.taken || framer.dropCount() != stream.dropped
        || framer.bytesReceived()
            != framer.framesAccepted() * quint64(length + 4) + framer.bytesDropped()
                + quint64(framer.bufferedBytes())
        || framer.bytesSearched() > framer.bytesReceived())
        abort();
    return 0;
}
