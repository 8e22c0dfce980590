#include "check/CheckMeasurement.h"

#include <QDir>

#include <cmath>
#include <cstdlib>

namespace CheckMeasurement {

QVector<int> pointTable(int width, int height)
{
    QVector<int> table(PointCount);
    for (int i = 0; i < PointCount - 1; ++i)
        table[i] = (height - 3 * i) * (width - 8 * i) - 1;
    table[PointCount - 1] = 0;
    return table;
}

bool readings(const QVector<quint16> &frame, int width, int height, Readings *out)
{
    if (width <= 8 || height <= 8 || frame.size() != width * height)
        return false;
    const int centre = (height / 2) * width + width / 2;
    out->left = centimetres(frame.at(centre - 4));
    out->right = centimetres(frame.at(centre + 4));
    out->before = centimetres(frame.at(centre - 4 * width));
    out->after = centimetres(frame.at(centre + 4 * width));
    return true;
}

bool isParallel(const Readings &r, int accuracy)
{
    return accuracy > std::abs(r.left - r.right) && accuracy > std::abs(r.before - r.after);
}

int correctedDistance(quint16 value, int col, int row, const Lens &lens)
{
    const double dx = col - lens.cx;
    const double dy = row - lens.cy;
    const double r = std::sqrt(dx * dx + dy * dy);
    const int distance = centimetres(value);
    // On the optical axis there is nothing to correct; this also keeps a zero
    // focal length from producing 0/0.
    if (r == 0.0)
        return distance;
    return static_cast<int>(std::trunc(distance * std::cos(std::atan(r / lens.fx))));
}

QString reportFilePath(const QString &workingDir, int n)
{
    return workingDir + QDir::separator() + QStringLiteral("Check Result-%1.txt").arg(n);
}

QString reportHeaderLine(const QString &workingSubdir)
{
    return QStringLiteral("# file info: ") + workingSubdir + QStringLiteral("   unit: cm");
}

QByteArray reportBlock(int step, int realDistance, const QVector<int> &table, const QVector<quint16> &frame,
    int width, const Lens &lens)
{
    QByteArray block;
    block += "Step: " + QByteArray::number(step) + "   Real Distance: " + QByteArray::number(realDistance)
        + '\n';
    block += "Point | Measure | Error\n";
    for (const int p : table) {
        const QByteArray index = QByteArray::number(p);
        if (width <= 0 || p < 0 || p >= frame.size() || frame.at(p) >= FirstInvalidValue) {
            block += index + "  NA  NA\n";
            continue;
        }
        const int measured = correctedDistance(frame.at(p), p % width, p / width, lens);
        block += index + "  " + QByteArray::number(measured) + "  "
            + QByteArray::number(measured - realDistance) + '\n';
    }
    block += '\n';
    return block;
}

} // namespace CheckMeasurement
