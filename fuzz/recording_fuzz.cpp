// Input: 4 bytes for where a recording of three frames is cut, then pairs of
// (position, value) bytes that change it. What the reader gives back must be
// the frames written, in order and whole, up to the first cut or damaged
// record; an undamaged file cut after its header gives every whole record.
#include "frames/FrameFormat.h"
#include "frames/Recording.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

const int Frames = 3;

// A recording of three frames of 8 pixels ('a', 'b', 'c'), written once.
struct Source
{
    QTemporaryDir dir;
    QByteArray bytes;
    int frameLength = FrameFormat::frameBytes(8);
    int headerSize = 0;

    Source()
    {
        Recording::Header header;
        header.deviceType = 2;
        header.width = 4;
        header.height = 2;
        header.frameLength = frameLength;
        header.deviceInfoPayload = QByteArray(30, '\x07');
        RecordingWriter writer;
        QFile file(dir.filePath("source.kvr"));
        if (!writer.open(file.fileName(), header))
            abort();
        for (int k = 0; k < Frames; ++k) {
            if (!writer.append(1000 * quint64(k), QByteArray(frameLength, char('a' + k)).constData()))
                abort();
        }
        writer.close();
        if (!file.open(QIODevice::ReadOnly))
            abort();
        bytes = file.readAll();
        headerSize = int(bytes.size()) - Frames * (frameLength + Recording::RecordOverhead);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    static Source s;
    const quint32 at
        = quint32(data[0]) | quint32(data[1]) << 8 | quint32(data[2]) << 16 | quint32(data[3]) << 24;
    QByteArray bytes = s.bytes.left(int(at % quint32(s.bytes.size() + 1)));
    const bool damaged = size >= 6;
    for (size_t i = 4; i + 1 < size && !bytes.isEmpty(); i += 2)
        bytes[int(data[i] * 7919u % quint32(bytes.size()))] = char(data[i + 1]);
    const QString path = s.dir.filePath("cut.kvr");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        abort();
    file.close();
    RecordingReader reader;
    const bool opened = reader.open(path);
    if (!damaged && opened != (bytes.size() >= s.headerSize))
        abort();
    int count = 0;
    Recording::Frame frame;
    while (opened && reader.next(&frame)) {
        if (count >= Frames || frame.data != QByteArray(s.frameLength, char('a' + count)))
            abort();
        ++count;
    }
    const int recordSize = s.frameLength + Recording::RecordOverhead;
    if (!damaged && opened
        && (count != (bytes.size() - s.headerSize) / recordSize
            || reader.tailBytes() != (bytes.size() - s.headerSize) % recordSize))
        abort();
    return 0;
}
