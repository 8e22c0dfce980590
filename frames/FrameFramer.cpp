#include "frames/FrameFramer.h"

#include "frames/FrameFormat.h"

#include <cstring>

using FrameFormat::Marker;
using FrameFormat::MarkerSize;

FrameFramer::FrameFramer(int frameLength)
{
    setFrameLength(frameLength);
}

FrameFramer::~FrameFramer() = default;

void FrameFramer::setFrameLength(int bytes)
{
    bytes = qMax(0, bytes);
    if (bytes == m_frameLength)
        return;
    reset();
    m_frameLength = bytes;
    // Room for a frame and its marker plus the next pieces of the stream.
    m_capacity = bytes > 0 ? 2 * (bytes + MarkerSize) + 65536 : 0;
    m_buffer.reset(m_capacity > 0 ? new char[size_t(m_capacity)] : nullptr);
}

void FrameFramer::reset()
{
    if (m_tail > m_head || !m_atBoundary) {
        m_bytesDropped += quint64(m_tail - m_head);
        ++m_dropCount;
    }
    m_head = m_tail = m_searchFrom = 0;
    m_atBoundary = true;
}

void FrameFramer::reserveForAppend(int size)
{
    const int kept = m_tail - m_head;
    // Move the kept bytes to the front only when that moves no more than has
    // been consumed since the last move, so the copying stays linear.
    if (m_head > 0 && (m_tail + size > m_capacity || m_head >= kept)) {
        std::memmove(m_buffer.get(), m_buffer.get() + m_head, size_t(kept));
        m_searchFrom -= m_head;
        m_tail = kept;
        m_head = 0;
    }
    if (m_tail + size > m_capacity) {
        // Only an append larger than the spare room gets here.
        const int capacity = m_tail + size;
        std::unique_ptr<char[]> grown(new char[size_t(capacity)]);
        if (m_tail > 0)
            std::memcpy(grown.get(), m_buffer.get(), size_t(m_tail));
        m_buffer = std::move(grown);
        m_capacity = capacity;
    }
}

void FrameFramer::append(const char *data, int size)
{
    if (!data || size <= 0)
        return;
    m_bytesReceived += quint64(size);
    if (m_frameLength <= 0) {
        // One dropped run until the next reset() or length change.
        m_bytesDropped += quint64(size);
        m_atBoundary = false;
        return;
    }
    reserveForAppend(size);
    std::memcpy(m_buffer.get() + m_tail, data, size_t(size));
    m_tail += size;
}

int FrameFramer::findMarker(int from)
{
    const char *buffer = m_buffer.get();
    const int last = m_tail - MarkerSize; // last position a whole marker fits at
    int p = qMax(from, m_searchFrom);
    while (p <= last) {
        const void *star = std::memchr(buffer + p, Marker[0], size_t(last - p + 1));
        if (!star)
            break;
        const int at = int(static_cast<const char *>(star) - buffer);
        if (std::memcmp(buffer + at, Marker, MarkerSize) == 0) {
            m_bytesSearched += quint64(at + 1 - p);
            m_searchFrom = at + MarkerSize;
            return at;
        }
        m_bytesSearched += quint64(at + 1 - p);
        p = at + 1;
    }
    if (p <= last)
        m_bytesSearched += quint64(last + 1 - p);
    m_searchFrom = qMax(p, last + 1);
    return -1;
}

bool FrameFramer::nextFrame(Frame *frame)
{
    if (m_frameLength <= 0)
        return false;
    for (;;) {
        if (m_atBoundary) {
            if (m_tail - m_head < m_frameLength + MarkerSize)
                return false;
            const char *end = m_buffer.get() + m_head + m_frameLength;
            if (std::memcmp(end, Marker, MarkerSize) == 0) {
                frame->data = m_buffer.get() + m_head;
                frame->size = m_frameLength;
                m_head += m_frameLength + MarkerSize;
                m_searchFrom = m_head;
                ++m_framesAccepted;
                return true;
            }
            // Not a frame: the block runs to the first marker after the boundary.
            m_atBoundary = false;
            m_searchFrom = m_head;
        }
        const int found = findMarker(m_head);
        if (found < 0) {
            // Keep what may be the start of a marker split across pieces.
            const int keepFrom = qMax(m_head, m_tail - (MarkerSize - 1));
            m_bytesDropped += quint64(keepFrom - m_head);
            m_head = keepFrom;
            return false;
        }
        m_bytesDropped += quint64(found + MarkerSize - m_head);
        ++m_dropCount;
        m_head = found + MarkerSize;
        m_atBoundary = true;
    }
}
