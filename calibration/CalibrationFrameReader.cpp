#include "calibration/CalibrationFrameReader.h"

#include <QtEndian>

CalibrationFrameReader::CalibrationFrameReader(int pixelCount)
    : m_pixelCount(qMax(pixelCount, 0))
    , m_framer(2 * m_pixelCount + 4)
{
}

bool CalibrationFrameReader::next(CalibrationFrame *frame)
{
    FrameFramer::Frame block;
    if (!m_framer.nextFrame(&block))
        return false;
    const uchar *trailer = reinterpret_cast<const uchar *>(block.data) + 2 * m_pixelCount;
    frame->value = qFromLittleEndian<quint16>(trailer);
    frame->step = trailer[2];
    frame->status = trailer[3];
    frame->pixels = QByteArray(block.data, 2 * m_pixelCount);
    return true;
}
