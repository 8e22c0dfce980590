#ifndef CHECKMEASUREMENT_H
#define CHECKMEASUREMENT_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Arithmetic of the accuracy check: which pixels are measured, how a raw depth
// value becomes a distance perpendicular to the sensor, and how one
// measurement is written to the report. No widgets, no files.
namespace CheckMeasurement {

constexpr int PointCount = 21;
// Depth values from here on carry no distance (saturation, low amplitude, ...).
constexpr int FirstInvalidValue = 30000;

// Raw frame value to whole centimetres.
inline int centimetres(quint16 value)
{
    return value / 20;
}

// The 21 measured pixel indices for a width x height frame: entry i (0..19) is
// (height - 3i) * (width - 8i) - 1, entry 20 is pixel 0. On very small frames
// some entries fall outside the frame; the report marks those as NA.
QVector<int> pointTable(int width, int height);

// The four readings around the centre pixel used to align the target.
struct Readings
{
    int left = 0; // 4 pixels left of the centre
    int right = 0; // 4 pixels right of the centre
    int before = 0; // 4 rows before the centre
    int after = 0; // 4 rows after the centre
};

// Reads the four readings from a width x height frame. Returns false, leaving
// `out` untouched, when the frame does not hold width x height values or the
// frame is too small for the readings.
bool readings(const QVector<quint16> &frame, int width, int height, Readings *out);

// The target is parallel when both differences are strictly below `accuracy`.
bool isParallel(const Readings &readings, int accuracy);

// Lens intrinsics used for the angle correction (pixels).
struct Lens
{
    double cx = 1.0;
    double cy = 1.0;
    double fx = 1.0;
};

// Distance along the viewing ray of pixel (col, row) turned into the distance
// perpendicular to the sensor, truncated to whole centimetres.
int correctedDistance(quint16 value, int col, int row, const Lens &lens);

// "Check Result-<n>.txt" inside `workingDir`.
QString reportFilePath(const QString &workingDir, int n);

// First line of a report (the caller adds the line ends in text mode).
QString reportHeaderLine(const QString &workingSubdir);

// One measurement block, every line ending in a single line feed: the step and
// real distance line, the column line, one line per table entry and an empty line.
QByteArray reportBlock(int step, int realDistance, const QVector<int> &table, const QVector<quint16> &frame,
    int width, const Lens &lens);

} // namespace CheckMeasurement

#endif // CHECKMEASUREMENT_H
