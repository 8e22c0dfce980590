// The calibration frame reader on a generated stream of well-formed frames,
// frames one byte off and junk: it must yield exactly the well-formed frames
// that follow a boundary, however the port chunks the stream, and every frame
// goes through the sweep arithmetic (parameters, step frames, step closing,
// the final table).
#include "BlockStream.h"
#include "calibration/CalibrationFrameReader.h"
#include "calibration/DrnuSweep.h"

#include <QByteArray>
#include <QVector>

#include <cstdint>
#include <cstdlib>
#include <tuple>

namespace {

using Seen = std::tuple<quint8, quint8, quint16, QByteArray>; // status, step, value, pixels

QVector<Seen> readAll(
    int pixelCount, const QByteArray &stream, const uint8_t *chunks, size_t chunkCount, DrnuSweep *sweep)
{
    CalibrationFrameReader reader(pixelCount);
    QVector<Seen> seen;
    size_t c = 0;
    for (int pos = 0; pos < stream.size();) {
        const int size = chunkCount ? 1 + chunks[c++ % chunkCount] : stream.size();
        reader.append(stream.constData() + pos, qMin(size, stream.size() - pos));
        pos += size;
        CalibrationFrame frame;
        while (reader.next(&frame)) {
            if (frame.pixels.size() != 2 * pixelCount)
                abort();
            seen.append({ frame.status, frame.step, frame.value, frame.pixels });
            if (!sweep)
                continue;
            if (frame.status == CalibrationFrame::Parameters) {
                sweep->setParameters(frame.value, frame.step);
            } else if (frame.status == CalibrationFrame::Step) {
                if (sweep->addStepFrame(frame.pixels.constData(), frame.value, frame.step)
                    == DrnuSweep::FrameResult::SweepComplete)
                    sweep->finishSweep();
            }
        }
        if (reader.bufferedBytes() > reader.frameBytes() + 4 + size)
            abort();
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const int pixelCount = 1 + data[0] % 6;
    const size_t chunkCount = data[1] % 8;
    if (size < 2 + chunkCount)
        return 0;
    const uint8_t *chunks = data + 2;
    const BlockStream generated(data + 2 + chunkCount, size - 2 - chunkCount, { 2 * pixelCount + 4 }, true);
    const QByteArray stream = QByteArray::fromStdString(generated.bytes);

    DrnuSweep sweep(pixelCount);
    sweep.start();
    const QVector<Seen> whole = readAll(pixelCount, stream, nullptr, 0, nullptr);
    const QVector<Seen> chunked = readAll(pixelCount, stream, chunks, chunkCount, &sweep);
    if (!(whole == chunked) || whole.size() != int(generated.taken.size()))
        abort();
    for (int i = 0; i < whole.size(); ++i) {
        const QByteArray taken = QByteArray::fromStdString(generated.taken[size_t(i)]);
        if (std::get<3>(whole[i]) != taken.left(2 * pixelCount)
            || std::get<0>(whole[i]) != quint8(taken.back()))
            abort();
    }

    // The arithmetic of a finished sweep on whatever the frames left in the
    // table: every step closed with sums a camera can send (16-bit pixels).
    for (int s = sweep.expectedStep(); s < Drnu::StepCount; ++s) {
        for (int p = 0; p < pixelCount; ++p) {
            const uint8_t b = stream.isEmpty() ? 0 : uint8_t(stream[(s * pixelCount + p) % stream.size()]);
            sweep.frameSums[p] = qint32(b) * 257 * Drnu::FramesPerStep;
        }
        sweep.closeStep();
    }
    sweep.finishSweep();
    sweep.renewDRNU(int(data[0]) * 40);
    return 0;
}
