#include "views/PointCloudScene.h"

#include "frames/ImageColorizer.h"

#include <cmath>

namespace {

// The largest centimetre value a valid pixel can have (29999 / 20).
constexpr int MaximumCm = (PointCloudScene::InvalidValue - 1) / 20;

// A round step that divides `range` into about five parts.
double niceStep(double range)
{
    if (!(range > 0))
        return 1.0;
    const double raw = range / 5.0;
    const double base = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / base;
    return base * (m >= 7.5 ? 10.0 : m >= 3.5 ? 5.0 : m >= 1.5 ? 2.0 : 1.0);
}

} // namespace

PointCloudScene::PointCloudScene()
    : m_rotation(initialRotation())
{
    // The depth colour map over 0 to 400 cm; farther points keep the far colour.
    ImageColorizer colorizer;
    colorizer.setRange(0, BoxDepthCm * 20);
    m_colours.resize(MaximumCm + 1);
    for (int cm = 0; cm <= MaximumCm; ++cm)
        m_colours[cm] = colorizer.valueToColor(qMin(cm, BoxDepthCm) * 20, ImageColorizer::DepthColors).rgb();
}

void PointCloudScene::setSensor(int width, int height)
{
    width = qMax(0, width);
    height = qMax(0, height);
    if (width == m_width && height == m_height)
        return;
    m_width = width;
    m_height = height;
    m_vertices = QVector<Vertex>(width * height);
    m_pointCount = 0;
    rebuildRays();
    rebuildBox();
}

void PointCloudScene::setMode(Mode mode, const LensParameters &lens)
{
    const bool lensChanged = lens.cx != m_lens.cx || lens.cy != m_lens.cy || lens.fx != m_lens.fx
        || lens.fy != m_lens.fy || lens.factor != m_lens.factor;
    if (mode == m_mode && (mode == PixelGrid || !lensChanged))
        return;
    m_mode = mode;
    m_lens = lens;
    rebuildRays();
    rebuildBox();
}

void PointCloudScene::rebuildRays()
{
    if (m_mode != Metric) {
        m_rays.clear();
        return;
    }
    // The projection of the point cloud log, split into a per-pixel factor
    // and the value: z = (value / 2) x cos(atan(r / fx)) / factor.
    m_rays.resize(3 * m_width * m_height);
    float *ray = m_rays.data();
    for (int row = 0; row < m_height; ++row) {
        for (int col = 0; col < m_width; ++col) {
            const double dx = col - m_lens.cx;
            const double dy = row - m_lens.cy;
            const double k = std::cos(std::atan(std::sqrt(dx * dx + dy * dy) / m_lens.fx)) / m_lens.factor;
            *ray++ = float(dx * k / m_lens.fx);
            *ray++ = float(dy * k / m_lens.fy);
            *ray++ = float(k);
        }
    }
}

QVector3D PointCloudScene::pointFor(int col, int row, quint16 value) const
{
    if (m_mode == Metric) {
        const float *ray = m_rays.constData() + 3 * (row * m_width + col);
        const float half = float(value >> 1);
        return QVector3D(half * ray[0], half * ray[1], half * ray[2]);
    }
    return QVector3D(float(col), float(row), float(value / 20));
}

int PointCloudScene::fill(const quint16 *values, int count)
{
    m_pointCount = 0;
    if (!values || count != m_width * m_height || count == 0)
        return 0;
    Vertex *out = m_vertices.data();
    const QRgb *colours = m_colours.constData();
    int i = 0;
    if (m_mode == Metric) {
        const float *ray = m_rays.constData();
        for (; i < count; ++i, ray += 3) {
            const quint16 v = values[i];
            if (v >= InvalidValue)
                continue;
            const float half = float(v >> 1);
            const QRgb c = colours[v / 20];
            *out++ = { half * ray[0], half * ray[1], half * ray[2], quint8(qRed(c)), quint8(qGreen(c)),
                quint8(qBlue(c)), 255 };
        }
    } else {
        for (int row = 0; row < m_height; ++row) {
            for (int col = 0; col < m_width; ++col, ++i) {
                const quint16 v = values[i];
                if (v >= InvalidValue)
                    continue;
                const int cm = v / 20;
                const QRgb c = colours[cm];
                *out++ = { float(col), float(row), float(cm), quint8(qRed(c)), quint8(qGreen(c)),
                    quint8(qBlue(c)), 255 };
            }
        }
    }
    m_pointCount = int(out - m_vertices.constData());
    return m_pointCount;
}

PointCloudScene::Vertex PointCloudScene::makeVertex(const QVector3D &p, QRgb colour) const
{
    return { p.x(), p.y(), p.z(), quint8(qRed(colour)), quint8(qGreen(colour)), quint8(qBlue(colour)), 255 };
}

void PointCloudScene::rebuildBox()
{
    ++m_boxGeneration;
    const float w = float(qMax(1, m_width));
    const float h = float(qMax(1, m_height));
    const QVector3D gridMin(0, 0, 0);
    const QVector3D gridMax(w, h, BoxDepthCm);
    const QVector3D gridScale(4.0f, 4.0f, 0.5f);
    m_radius = (gridMax - gridMin).length() / 2;
    if (m_mode == Metric) {
        // The field of view at 400 cm: distance 4000 mm, i.e. a value of 8000.
        const double zMax = 4000.0 / m_lens.factor;
        m_boxMin = QVector3D(
            float((0 - m_lens.cx) * zMax / m_lens.fx), float((0 - m_lens.cy) * zMax / m_lens.fy), 0);
        m_boxMax = QVector3D(float((w - 1 - m_lens.cx) * zMax / m_lens.fx),
            float((h - 1 - m_lens.cy) * zMax / m_lens.fy), float(zMax));
        // One scale for all axes, chosen so the box fills the view like the pixel grid's.
        const float extent = (m_boxMax - m_boxMin).length();
        const float u = extent > 0 ? (gridScale * (gridMax - gridMin)).length() / extent : 1.0f;
        m_scale = QVector3D(u, u, u);
    } else {
        m_boxMin = gridMin;
        m_boxMax = gridMax;
        m_scale = gridScale;
    }

    m_lines.clear();
    const QRgb black = qRgb(0, 0, 0);
    const QVector3D lo = m_boxMin;
    const QVector3D hi = m_boxMax;
    const QVector3D size = hi - lo;
    // Twelve edges: for each axis the four edges along it.
    for (int a = 0; a < 3; ++a) {
        const int b = (a + 1) % 3;
        const int c = (a + 2) % 3;
        const double step = niceStep(size[a]);
        for (int corner = 0; corner < 4; ++corner) {
            QVector3D start = lo;
            start[b] = corner & 1 ? hi[b] : lo[b];
            start[c] = corner & 2 ? hi[c] : lo[c];
            QVector3D end = start;
            start[a] = lo[a];
            end[a] = hi[a];
            m_lines << makeVertex(start, black) << makeVertex(end, black);
            // Grid marks pointing into the box: majors long, four minors between.
            const float inB = corner & 1 ? -1.0f : 1.0f;
            const float inC = corner & 2 ? -1.0f : 1.0f;
            const double minor = step / 5;
            const long first = long(std::ceil(lo[a] / minor - 1e-6));
            const long last = long(std::floor(hi[a] / minor + 1e-6));
            for (long k = first; k <= last; ++k) {
                const bool major = k % 5 == 0;
                const float length = major ? 0.04f : 0.02f;
                QVector3D p = start;
                p[a] = float(k * minor);
                QVector3D q = p;
                q[b] += inB * length * size[b];
                m_lines << makeVertex(p, black) << makeVertex(q, black);
                q = p;
                q[c] += inC * length * size[c];
                m_lines << makeVertex(p, black) << makeVertex(q, black);
            }
        }
    }
}

QVector<double> PointCloudScene::majorTicks(int axis) const
{
    QVector<double> ticks;
    const double lo = m_boxMin[axis];
    const double hi = m_boxMax[axis];
    const double step = niceStep(hi - lo);
    for (long k = long(std::ceil(lo / step - 1e-6)); k <= long(std::floor(hi / step + 1e-6)); ++k)
        ticks << k * step;
    return ticks;
}

void PointCloudScene::axisEdge(int axis, QVector3D &edgeStart, QVector3D &outward) const
{
    const QVector3D size = m_boxMax - m_boxMin;
    edgeStart = m_boxMin;
    outward = QVector3D();
    // x numbers below the front edge, y numbers left of the left edge, z
    // numbers at the front left corner.
    if (axis == 0) {
        edgeStart[1] = m_boxMax[1];
        edgeStart[2] = m_boxMax[2];
        outward[1] = 0.08f * size[1];
    } else if (axis == 1) {
        outward[0] = -0.08f * size[0];
    } else {
        edgeStart[1] = m_boxMax[1];
        outward[0] = -0.06f * size[0];
        outward[1] = 0.06f * size[1];
    }
}

void PointCloudScene::resetView()
{
    m_rotation = initialRotation();
    m_zoom = InitialZoom;
    m_pan = QPointF();
}

bool PointCloudScene::isInitialView() const
{
    return m_rotation == initialRotation() && m_zoom == InitialZoom && m_pan.isNull();
}

void PointCloudScene::orbit(float dxDegrees, float dyDegrees)
{
    m_rotation.setZ(std::fmod(m_rotation.z() + dxDegrees, 360.0f));
    m_rotation.setX(std::fmod(m_rotation.x() + dyDegrees, 360.0f));
}

void PointCloudScene::panPixels(float dx, float dy, const QSize &viewport)
{
    const double perPixel = unitsPerPixel(viewport);
    m_pan += QPointF(dx * perPixel, -dy * perPixel);
}

float PointCloudScene::unitsPerPixel(const QSize &viewport) const
{
    // The box's half diagonal, divided by the zoom, spans half of the
    // viewport's mean side: at the initial view the whole box shows.
    const int side = qMax(1, (viewport.width() + viewport.height()) / 2);
    return 2.0f * m_radius / m_zoom / side;
}

QMatrix4x4 PointCloudScene::modelView() const
{
    QMatrix4x4 m;
    m.translate(float(m_pan.x()), float(m_pan.y()), 0);
    // Rotation x is counted from a view along the y axis: at 0, 0, 0 the
    // pixel grid lies upright in front of the viewer.
    m.rotate(m_rotation.x() - 90.0f, 1, 0, 0);
    m.rotate(m_rotation.y(), 0, 1, 0);
    m.rotate(m_rotation.z(), 0, 0, 1);
    m.scale(m_scale);
    m.translate(-(m_boxMin + m_boxMax) / 2);
    return m;
}

QMatrix4x4 PointCloudScene::projection(const QSize &viewport) const
{
    const float perPixel = unitsPerPixel(viewport);
    const float halfWidth = perPixel * qMax(1, viewport.width()) / 2;
    const float halfHeight = perPixel * qMax(1, viewport.height()) / 2;
    // Deep enough for the scaled box turned any way.
    const float depth = (m_scale * (m_boxMax - m_boxMin)).length() + 1.0f;
    QMatrix4x4 p;
    p.ortho(-halfWidth, halfWidth, -halfHeight, halfHeight, -depth, depth);
    return p;
}

QPointF PointCloudScene::toScreen(const QVector3D &point, const QSize &viewport) const
{
    const QVector3D ndc = transform(viewport).map(point);
    return QPointF((ndc.x() + 1.0) / 2.0 * viewport.width(), (1.0 - ndc.y()) / 2.0 * viewport.height());
}
