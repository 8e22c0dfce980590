#ifndef FRAMEFRAMER_H
#define FRAMEFRAMER_H

#include <QByteArray>
#include <QtGlobal>
#include <memory>

// Cuts blocks of one known length out of a byte stream from the camera. It
// is the one framing rule for every reader of camera bytes (live frames,
// device-information replies, calibration frames):
//
//   Every marker "*##*" ends a block, and a block is used only when its length
//   is exactly frameLength(); a block of any other length is dropped whole,
//   never cut down to its last or first bytes. A block may start only at a
//   boundary: where the reader started listening (construction, reset()), the
//   end of the previous accepted block's marker, or the end of any marker that
//   ended a dropped block since. From a boundary the block is taken when the
//   marker lies exactly frameLength() bytes further on; marker copies inside
//   it (pixels that happen to read "*##*") are data. Otherwise the block ends
//   at the first marker after the boundary and is dropped, and its end is the
//   next boundary.
//
// So a stream in step costs one comparison per block and a marker copy in the
// pixels never starts a shifted frame. The price: bytes without a marker of
// their own in front of a frame take that frame with them.
//
// Linear time whatever the sizes of the appended pieces (a marker split across
// pieces included): every byte is searched at most once. After nextFrame() has
// returned false fewer than frameLength() + 4 bytes are kept, so the buffer
// stays within two frames plus the largest appended piece even when nothing
// but garbage arrives.
//
// Usage: append() what the port delivered, then take every complete frame:
//     framer.append(bytes);
//     FrameFramer::Frame frame;
//     while (framer.nextFrame(&frame))
//         process(frame.data, frame.size);
class FrameFramer
{
public:
    struct Frame
    {
        // Points into the framer's buffer; valid until the next append(),
        // nextFrame(), reset() or setFrameLength().
        const char *data = nullptr;
        int size = 0;
    };

    explicit FrameFramer(int frameLength = 0);
    ~FrameFramer();
    FrameFramer(const FrameFramer &) = delete;
    FrameFramer &operator=(const FrameFramer &) = delete;

    // Frame length without the marker (data bytes + trailer bytes). A change
    // resets the framer; 0 or less makes it discard everything.
    void setFrameLength(int bytes);
    int frameLength() const { return m_frameLength; }

    // Forgets buffered bytes (counted as one dropped block when there were
    // any); the next appended byte is a boundary. The counters are kept.
    void reset();

    void append(const char *data, int size);
    void append(const QByteArray &bytes) { append(bytes.constData(), bytes.size()); }

    // Gives the next complete frame in stream order, or returns false when
    // more bytes are needed.
    bool nextFrame(Frame *frame);

    int bufferedBytes() const { return m_tail - m_head; }
    int capacity() const { return m_capacity; }

    // Diagnostics since construction.
    // bytesReceived() == framesAccepted() * (frameLength() + 4) + bytesDropped()
    // + bufferedBytes(): markers of dropped blocks count as dropped bytes.
    quint64 bytesReceived() const { return m_bytesReceived; }
    quint64 framesAccepted() const { return m_framesAccepted; }
    quint64 bytesDropped() const { return m_bytesDropped; }
    // Dropped blocks: one per marker that ended a block of the wrong length,
    // plus one per run without a marker that reset() or a change of length
    // threw away.
    quint64 dropCount() const { return m_dropCount; }
    // Byte positions the marker search has looked at (at most bytesReceived()).
    quint64 bytesSearched() const { return m_bytesSearched; }

private:
    void reserveForAppend(int size);
    int findMarker(int from);

    std::unique_ptr<char[]> m_buffer;
    int m_capacity = 0;
    int m_frameLength = 0;
    int m_head = 0; // first byte not yet consumed
    int m_tail = 0; // end of the buffered bytes
    int m_searchFrom = 0; // first possible marker position not yet looked at
    // m_head is a boundary whose block is not decided yet; otherwise the bytes
    // from m_head on belong to a dropped block whose marker has not come.
    bool m_atBoundary = true;

    quint64 m_bytesReceived = 0;
    quint64 m_framesAccepted = 0;
    quint64 m_bytesDropped = 0;
    quint64 m_dropCount = 0;
    quint64 m_bytesSearched = 0;
};

#endif // FRAMEFRAMER_H
