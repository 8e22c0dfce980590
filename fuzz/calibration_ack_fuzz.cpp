// The acknowledgement detection on arbitrary replies and chunkings: it must
// find every reply that starts a chunk or follows a marker with 45 45 02, and
// nothing else, however the bytes are split.
#include "calibration/DrnuPackets.h"

#include <QByteArray>
#include <QVector>

#include <cstdint>
#include <cstdlib>

namespace {

// A direct reading of the rule over the chunks: a reply starts at a chunk
// start and right after "*##*"; a start continued by 45 45 02 is an
// acknowledgement; a chunk start inside a partial head restarts the match.
int reference(const QByteArray &stream, const QVector<int> &chunkStarts)
{
    QVector<bool> mayStart(stream.size() + 1, false);
    for (int start : chunkStarts)
        mayStart[start] = true;
    // Markers do not overlap: the bytes after one begin afresh.
    for (int i = 3, from = 0; i < stream.size(); ++i) {
        if (i - 3 >= from && stream.mid(i - 3, 4) == "*##*") {
            mayStart[i + 1] = true;
            from = i + 1;
        }
    }
    static const char ack[3] = { 0x45, 0x45, 0x02 };
    int acks = 0, matched = 0;
    for (int i = 0; i < stream.size(); ++i) {
        const bool continued = matched > 0 && stream[i] == ack[matched];
        matched = continued ? matched + 1 : 0;
        if (matched == 3) {
            ++acks;
            matched = 0;
        }
        if (!continued && mayStart[i] && stream[i] == ack[0])
            matched = 1;
    }
    return acks;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t chunkCount = 1 + data[0] % 8;
    if (size < 1 + chunkCount)
        return 0;
    const uint8_t *chunks = data + 1;
    const QByteArray stream(
        reinterpret_cast<const char *>(data + 1 + chunkCount), int(size - 1 - chunkCount));

    Drnu::AckDetector detector;
    QVector<int> starts;
    int acks = 0;
    size_t c = 0;
    for (int pos = 0; pos < stream.size();) {
        const int length = qMin(1 + int(chunks[c++ % chunkCount]), stream.size() - pos);
        starts << pos;
        acks += detector.feed(stream.constData() + pos, length);
        pos += length;
    }
    if (acks != reference(stream, starts))
        abort();
    return 0;
}
