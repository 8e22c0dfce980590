#ifndef CALIBRATIONFRAMEREADER_H
#define CALIBRATIONFRAMEREADER_H

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

// Cuts the calibration blocks out of the byte stream: every block ends with the
// marker "*##*"; one of exactly 2N + 4 bytes is a frame. Blocks of another
// length are dropped. The result does not depend on how the port chunks the
// bytes, and garbage without a marker never grows the buffer without bound.
class CalibrationFrameReader
{
public:
    explicit CalibrationFrameReader(int pixelCount);

    int pixelCount() const { return m_pixelCount; }
    int frameBytes() const { return 2 * m_pixelCount + 4; }

    void append(const QByteArray &bytes);
    void append(const char *data, int length);
    // Takes the next complete block; false when none is buffered. Blocks of
    // the wrong length are skipped; `frame` then holds a frame of any status.
    bool next(CalibrationFrame *frame);
    void clear();

    int bufferedBytes() const { return m_buffer.size() - m_start; }
    int droppedBlocks() const { return m_dropped; }

private:
    void compact();

    int m_pixelCount;
    QByteArray m_buffer;
    int m_start = 0; // first unconsumed byte
    int m_searchFrom = 0; // no marker starts before this position
    int m_dropped = 0;
    bool m_discarding = false; // the block up to the next marker lost its start
};

#endif // CALIBRATIONFRAMEREADER_H
