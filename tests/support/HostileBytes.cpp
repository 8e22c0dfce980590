#include "HostileBytes.h"

#include "frames/FrameFormat.h"

#include <QRandomGenerator>

namespace HostileBytes {

const QByteArray Marker = QByteArrayLiteral("*##*");

QByteArray frame(int pixelCount, int k, const QVector<int> &markerCopies, quint8 status)
{
    QVector<quint16> pixels(pixelCount);
    for (int i = 0; i < pixelCount; ++i)
        pixels[i] = quint16((i * 7 + k * 131 + 5) % 30000) & 0x1f1f; // no '*' (0x2a)
    QByteArray block = FrameFormat::encode(pixels.constData(), pixelCount, quint16(k), status);
    for (int at : markerCopies)
        block.replace(at, Marker.size(), Marker);
    return block;
}

QByteArray noise(int bytes, int markerEvery, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray out(bytes, Qt::Uninitialized);
    for (char &c : out)
        c = char(random.bounded(256));
    out.replace(Marker, QByteArrayLiteral("*#x*"));
    // Markers at a fixed spacing: a block between two of them has a frame's
    // length only when the spacing divides it, which the tests avoid.
    if (markerEvery > 0) {
        for (int at = markerEvery; at + Marker.size() <= bytes; at += markerEvery + Marker.size())
            out.replace(at, Marker.size(), Marker);
        out.replace(bytes - Marker.size(), Marker.size(), Marker);
    }
    return out;
}

QByteArray resized(const QByteArray &block, int delta)
{
    QByteArray body = block.left(block.size() - Marker.size());
    if (delta < 0)
        body.chop(-delta);
    else
        body.append(QByteArray(delta, '\x11'));
    return body + Marker;
}

void feed(const QByteArray &bytes, int piece, const std::function<void(const QByteArray &)> &sink)
{
    QRandomGenerator random(uint(bytes.size()));
    for (int at = 0; at < bytes.size();) {
        int size = piece > 0 ? piece : piece == 0 ? bytes.size() : random.bounded(1, 40000);
        size = qMin(size, bytes.size() - at);
        sink(bytes.mid(at, size));
        at += size;
    }
}

} // namespace HostileBytes
