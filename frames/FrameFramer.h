#ifndef FRAMEFRAMER_H
#define FRAMEFRAMER_H

#include <QByteArray>
#include <QtGlobal>
#include <memory>

// Cuts frames of a known length out of the camera's byte stream.
//
// Every frame on the wire is followed by the marker "*##*". A marker found
// frameLength() bytes after the first byte not yet consumed ends a frame,
// even when the same four bytes also occur inside the pixel data. When no
// marker is there, the frame is the frameLength() bytes before the next
// marker found after that point; the bytes before it cannot start a frame of
// the right length and are dropped (a partial frame, a reply, line noise).
//
// The four bytes where a frame should end are looked at first, so a stream in
// step costs one comparison per frame. Only a stream out of step is searched,
// and the search never looks at a byte twice, whatever the sizes of the
// appended pieces, markers split across pieces included. After nextFrame()
// has returned false fewer than frameLength() + 4 bytes are kept, so the
// buffer stays within two frames plus the largest appended piece even when
// nothing but garbage arrives.
//
// The wire format has one ambiguity no framer can resolve: when bytes without
// a marker precede a frame whose last bytes hold a copy of the marker, the
// copy can end a wrongly placed frame. In step, copies are never mistaken.
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

    // Forgets buffered bytes; the next appended byte is a possible frame start.
    // The counters are kept.
    void reset();

    void append(const char *data, int size);
    void append(const QByteArray &bytes) { append(bytes.constData(), bytes.size()); }

    // Gives the next complete frame in stream order, or returns false when
    // more bytes are needed.
    bool nextFrame(Frame *frame);

    int bufferedBytes() const { return m_tail - m_head; }
    int capacity() const { return m_capacity; }

    // Diagnostics since construction.
    quint64 bytesReceived() const { return m_bytesReceived; }
    quint64 framesAccepted() const { return m_framesAccepted; }
    quint64 bytesDropped() const { return m_bytesDropped; }
    // Runs of bytes dropped while getting back in step.
    quint64 dropCount() const { return m_dropCount; }
    // Byte positions the marker search has looked at (at most bytesReceived()).
    quint64 bytesSearched() const { return m_bytesSearched; }

private:
    void drop(int count);
    void reserveForAppend(int size);

    std::unique_ptr<char[]> m_buffer;
    int m_capacity = 0;
    int m_frameLength = 0;
    int m_head = 0; // first byte not yet consumed
    int m_tail = 0; // end of the buffered bytes
    int m_searchFrom = 0; // first possible marker position not yet looked at

    quint64 m_bytesReceived = 0;
    quint64 m_framesAccepted = 0;
    quint64 m_bytesDropped = 0;
    quint64 m_dropCount = 0;
    quint64 m_bytesSearched = 0;
};

#endif // FRAMEFRAMER_H
