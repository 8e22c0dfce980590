#ifndef SYNTHETICSCENE_H
#define SYNTHETICSCENE_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// The scene the simulated camera looks at, as a pure function, so that tests
// can predict every pixel of every frame it sends.
//
// Coordinates: x = 0..width-1, y = 0..height-1, pixel i = y * width + x.
// The box covers width/4 <= x < width/2 and height/4 <= y < height/2.
//
// Amplitude (LSB), before saturation:
//   plane  A0 = 200 + (5x + 3y) mod 400        box  A0 = 1500
//   A = A0 x integrationTime / 300 (integer division); with HDR on the
//   second integration time takes over where the first one saturates.
//   A above 4095 is saturated.
// Distance (LSB, two per millimetre):
//   plane  D0 = 2000 + 8x + 4y                 box  D0 = 1200
//   D = D0 + distanceOffset (the value the camera was sent, in LSB), plus
//   x mod 16 when the DRNU LUT is off; clamped to 1..29999.
// Gray level (raw): plane 2048 + 8 x (255x / (width - 1)), box 4088.
//
// Frame values:
//   amplitude frame  A, or 65400 where saturated
//   depth frame      65400 where saturated, 65300 where A < minAmplitude, else D
//   grayscale frame  the gray level
// Fixed test pixels in row 0, overriding the above, for x = 0..5:
//   amplitude and depth frames: 0, 65300, 65400, 65500, 30000, 40000
//   grayscale frames:           0, 2040, 4096, 65400, 65500, 2048
// The same in point-cloud mode, which streams depth frames.
//
// Chip temperature (1/16 degree): 416 + 8 x (integrationTime / 500), plus 16
// with HDR on: 26.0 C at 300 us.
//
// With markerCopies on, frame k carries the marker bytes "*##*" twice in its
// pixel data, both copies at least 4096 bytes before the end of the frame:
//   pixels p, p+1 = 8998, 10787            p = (1 + 7919 k) mod (N/2 - 2050)
//   pixels q..q+2 = 10768, 8995, 4138      q = N/2 + (3 + 104729 k) mod (N/2 - 2050)
// (the second copy starts at an odd byte offset). N = pixel count.
//
// The unused trailer byte carries the frame number modulo 256.
struct SceneSettings
{
    enum FrameType { Amplitude = 0, Depth = 1, Grayscale = 2 };

    int width = 160;
    int height = 60;
    int frameType = Depth;
    int integrationTime = 300; // microseconds
    int hdrSecondTime = 2000; // microseconds
    bool hdr = false;
    int minAmplitude = 50;
    int distanceOffset = 0; // LSB
    bool drnuLut = true;
    bool markerCopies = false;

    bool operator==(const SceneSettings &o) const
    {
        return width == o.width && height == o.height && frameType == o.frameType
            && integrationTime == o.integrationTime && hdrSecondTime == o.hdrSecondTime && hdr == o.hdr
            && minAmplitude == o.minAmplitude && distanceOffset == o.distanceOffset && drnuLut == o.drnuLut
            && markerCopies == o.markerCopies;
    }
    bool operator!=(const SceneSettings &o) const { return !(*this == o); }
};

namespace SyntheticScene {

constexpr int Saturation = 4095;

int amplitude(const SceneSettings &s, int x, int y);
int distance(const SceneSettings &s, int x, int y);
int grayLevel(const SceneSettings &s, int x, int y);

// The value of pixel (x, y) without marker copies.
quint16 pixel(const SceneSettings &s, int x, int y);
// All pixels of frame k, marker copies included.
QVector<quint16> frame(const SceneSettings &s, quint32 k);
// The scene without marker copies (the same for every frame).
QVector<quint16> stillFrame(const SceneSettings &s);
// Puts frame k's marker copies into pixels when s.markerCopies is set.
void addMarkerCopies(const SceneSettings &s, quint32 k, QVector<quint16> &pixels);
quint16 temperatureRaw(const SceneSettings &s);
// Frame k as it goes on the wire, marker included.
QByteArray block(const SceneSettings &s, quint32 k, quint8 status = 0);
// The same from the frame's pixels.
QByteArray block(const SceneSettings &s, const QVector<quint16> &pixels, quint32 k, quint8 status = 0);

// Pixel indices of the two marker copies in frame k.
int copyPosition(const SceneSettings &s, quint32 k, int copy);

} // namespace SyntheticScene

#endif // SYNTHETICSCENE_H
