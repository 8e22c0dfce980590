#ifndef HOSTILEBYTES_H
#define HOSTILEBYTES_H

#include <QByteArray>
#include <QVector>
#include <functional>

// Byte streams for the readers of camera bytes: well-formed blocks, blocks one
// off, and noise with and without markers.
namespace HostileBytes {

extern const QByteArray Marker;

// Frame k of a sensor with `pixelCount` pixels followed by its marker; the
// temperature field carries k. `markerCopies` puts "*##*" at these byte
// offsets of the frame (pixel data, temperature, status).
QByteArray frame(int pixelCount, int k, const QVector<int> &markerCopies = {}, quint8 status = 0);

// Random bytes; with `markerEvery` > 0 a marker follows every `markerEvery`
// bytes and ends the noise, otherwise no marker occurs.
QByteArray noise(int bytes, int markerEvery, quint32 seed);

// A block with its last marker moved by `delta` bytes (one too long: +1).
QByteArray resized(const QByteArray &block, int delta);

// Hands `bytes` to `sink` in pieces of `piece` bytes (0: whole; -1: random
// sizes from 1 byte to 40000 bytes).
void feed(const QByteArray &bytes, int piece, const std::function<void(const QByteArray &)> &sink);

} // namespace HostileBytes

#endif // HOSTILEBYTES_H
