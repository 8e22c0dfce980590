#ifndef CALIBRATIONFRAMEREADER_H
#define CALIBRATIONFRAMEREADER_H

#include "frames/FrameFramer.h"

#include <QByteArray>
#include <QtGlobal>

// One block the camera sends during a calibration sweep.
struct CalibrationFrame
{
    enum Status : quint8 {
        Parameters = 5, // value: DLL range (mm), step: DLL step count
        Step = 6, // value: chip temperature (1/16 degree), step: DLL step
    };

    quint16 value = 0;
    quint8 step = 0;
    quint8 status = 0;
    // pixelCount little-endian 16-bit distances (mm); shares the block's bytes.
    QByteArray pixels;
};

// Cuts the calibration frames (2N + 4 bytes before the marker "*##*") out of
// the byte stream by the same rule as the live view (FrameFramer): blocks of
// another length are dropped whole, marker copies inside a frame are data, and
// the result does not depend on how the port chunks the bytes.
class CalibrationFrameReader
{
public:
    explicit CalibrationFrameReader(int pixelCount);

    int pixelCount() const { return m_pixelCount; }
    int frameBytes() const { return 2 * m_pixelCount + 4; }

    void append(const QByteArray &bytes) { m_framer.append(bytes); }
    void append(const char *data, int length) { m_framer.append(data, length); }
    // Takes the next complete frame; false when none is buffered. `frame`
    // then holds a frame of any status.
    bool next(CalibrationFrame *frame);
    void clear() { m_framer.reset(); }

    int bufferedBytes() const { return m_framer.bufferedBytes(); }
    int droppedBlocks() const { return int(m_framer.dropCount()); }

private:
    int m_pixelCount;
    FrameFramer m_framer;
};

#endif // CALIBRATIONFRAMEREADER_H
