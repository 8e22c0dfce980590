// Input: byte 0 picks the frame length (2 x pixels + 4, 1..32 pixels), byte 1
// seeds the sizes of the appended pieces, the rest is the stream. The frames
// the framer gives must be exactly those of the rule read directly off the
// whole stream: from the first byte not consumed, the frame ends at the first
// marker found frame-length bytes or more later.
#include "frames/DepthFilter.h"
#include "frames/FrameFormat.h"
#include "frames/FrameFramer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<std::vector<char>> expectedFrames(const char *data, int size, int length)
{
    std::vector<std::vector<char>> frames;
    int head = 0;
    for (int p = head + length; p + 4 <= size; ++p) {
        if (std::memcmp(data + p, "*##*", 4) == 0) {
            frames.emplace_back(data + p - length, data + p);
            head = p + 4;
            p = head + length - 1;
        }
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t inputSize)
{
    if (inputSize < 2)
        return 0;
    const int pixels = 1 + input[0] % 32;
    const int length = FrameFormat::frameBytes(pixels);
    unsigned seed = input[1];
    const char *data = reinterpret_cast<const char *>(input + 2);
    const int size = int(inputSize - 2);

    FrameFramer framer(length);
    DepthFilter filter(pixels);
    filter.setMode(seed % 4);
    std::vector<std::vector<char>> got;
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
            got.emplace_back(frame.data, frame.data + frame.size);
            FrameFormat::readPixels(frame.data, pixels, values.data());
            (void)FrameFormat::temperatureText(FrameFormat::temperatureRaw(frame.data, pixels));
            filter.filterFrame(values.data());
        }
        if (framer.bufferedBytes() >= length + 4)
            abort();
    }
    if (got != expectedFrames(data, size, length))
        abort();
    if (framer.bytesReceived()
        != framer.framesAccepted() * quint64(length + 4) + framer.bytesDropped()
            + quint64(framer.bufferedBytes()))
        abort();
    if (framer.bytesSearched() > framer.bytesReceived())
        abort();
    return 0;
}
