#ifndef CALIBRATIONSCENE_H
#define CALIBRATIONSCENE_H

// What the simulated camera measures during a DRNU sweep, so a test can
// predict the correction table: every pixel has its own fixed offset, each DLL
// step adds TrueStep mm (the camera announces DllRange / DllSteps = 600), a
// triangle ripple of +-40 mm repeats every 8 steps, and the distance wraps at
// 15000 mm in the last step for every pixel. Frame k of a step adds noise that
// cancels over any even number of frames.
namespace CalibrationScene {

constexpr int DllRange = 13800;
constexpr int DllSteps = 23;
constexpr int TrueStep = 603;
constexpr int Base = 2000;
constexpr int Wrap = 15000;

inline int ripple(int step)
{
    static const int values[8] = { 0, 20, 40, 20, 0, -20, -40, -20 };
    return values[((step % 8) + 8) % 8];
}

inline int pixelOffset(int pixel)
{
    return (pixel * 37) % 61 - 30;
}

// The distance without noise and before the wrap.
inline int trueDistance(int step, int pixel)
{
    return Base + pixelOffset(pixel) + TrueStep * step + ripple(step);
}

inline int measuredDistance(int step, int pixel, int frame)
{
    const int noise = (frame % 2 ? 1 : -1) * (pixel % 3);
    const int d = trueDistance(step, pixel) + noise;
    return d >= Wrap ? d - Wrap : d;
}

// 1/16 degree.
inline int temperature(int step, int frame)
{
    return 640 + 2 * step + (frame % 2 ? 1 : -1);
}

} // namespace CalibrationScene

#endif // CALIBRATIONSCENE_H
