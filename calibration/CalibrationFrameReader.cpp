#include "calibration/CalibrationFrameReader.h"

#include <QtEndian>

namespace {
const QByteArray Marker = QByteArrayLiteral("*##*");
}

CalibrationFrameReader::CalibrationFrameReader(int pixelCount)
    : m_pixelCount(qMax(pixelCount, 0))
{
}

void CalibrationFrameReader::append(const QByteArray &bytes)
{
    append(bytes.constData(), bytes.size());
}

void CalibrationFrameReader::append(const char *data, int length)
{
    if (length <= 0)
        return;
    compact();
    m_buffer.append(data, length);

    // Without a marker in reach, nothing before the last three bytes can ever
    // belong to a frame: a longer block is dropped anyway.
    const int limit = frameBytes() + Marker.size();
    if (bufferedBytes() > limit && m_buffer.indexOf(Marker, m_searchFrom) < 0) {
        const int keep = Marker.size() - 1;
        m_buffer.remove(0, m_buffer.size() - keep);
        m_start = 0;
        m_searchFrom = 0;
        m_discarding = true;
    }
}

bool CalibrationFrameReader::next(CalibrationFrame *frame)
{
    for (;;) {
        const int marker = m_buffer.indexOf(Marker, m_searchFrom);
        if (marker < 0) {
            m_searchFrom = qMax(m_start, m_buffer.size() - (Marker.size() - 1));
            return false;
        }
        const int length = marker - m_start;
        const int blockStart = m_start;
        m_start = marker + Marker.size();
        m_searchFrom = m_start;
        if (m_discarding || length != frameBytes()) {
            m_discarding = false;
            ++m_dropped;
            continue;
        }
        const uchar *trailer
            = reinterpret_cast<const uchar *>(m_buffer.constData()) + blockStart + 2 * m_pixelCount;
        frame->value = qFromLittleEndian<quint16>(trailer);
        frame->step = trailer[2];
        frame->status = trailer[3];
        frame->pixels = m_buffer.mid(blockStart, 2 * m_pixelCount);
        return true;
    }
}

void CalibrationFrameReader::clear()
{
    m_buffer.clear();
    m_start = 0;
    m_searchFrom = 0;
    m_discarding = false;
}

void CalibrationFrameReader::compact()
{
    if (m_start == 0)
        return;
    m_buffer.remove(0, m_start);
    m_searchFrom = qMax(0, m_searchFrom - m_start);
    m_start = 0;
}
