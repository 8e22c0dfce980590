#ifndef POINTCLOUDSCENE_H
#define POINTCLOUDSCENE_H

#include "frames/PointProjection.h"

#include <QMatrix4x4>
#include <QPointF>
#include <QRgb>
#include <QSize>
#include <QVector3D>
#include <QVector>

// What the point cloud view draws, without any OpenGL: the vertices of one
// frame, the box with its grid marks, and the view and projection matrices
// that place them on the screen. The window only uploads and draws.
//
// Pixel grid: x = column, y = row, z = value / 20 (whole centimetres), in the
// box (0, 0, 0) to (width, height, 400), shown with the scale (4, 4, 0.5).
// Metric: each pixel's point as the point cloud log computes it from the
// lens intrinsics, shown with one scale for all three axes; the box spans the
// sensor's field of view from 0 to 400 cm.
class PointCloudScene
{
public:
    enum Mode { PixelGrid, Metric };

    // One point or line end: position and colour (r, g, b, a bytes in memory order).
    struct Vertex
    {
        float x, y, z;
        quint8 r, g, b, a;
    };

    // Frame values of this and above are no measurement and are left out.
    static constexpr quint16 InvalidValue = PointProjection::InvalidValue;
    // The depth of the box and the top of the colour legend, in centimetres.
    static constexpr int BoxDepthCm = 400;
    static constexpr float InitialZoom = 0.4f;
    static QVector3D initialRotation() { return QVector3D(-127.0f, 17.0f, 11.0f); }

    PointCloudScene();

    // Sizes the vertex storage for a sensor; only a change of size allocates.
    void setSensor(int width, int height);
    int width() const { return m_width; }
    int height() const { return m_height; }
    // The lens is used in metric mode; a change rebuilds the per-pixel table.
    void setMode(Mode mode, const LensParameters &lens);
    Mode mode() const { return m_mode; }
    // Bumped whenever the box (and so its lines) changes.
    int boxGeneration() const { return m_boxGeneration; }

    // Fills the vertices from one frame of width x height values, invalid
    // pixels left out, and returns the number of points. A frame of another
    // size gives no points. Never allocates.
    int fill(const quint16 *values, int count);
    const Vertex *vertices() const { return m_vertices.constData(); }
    int pointCount() const { return m_pointCount; }
    int capacity() const { return m_vertices.size(); }

    // The box edges and grid marks as line segments (pairs of vertices).
    const QVector<Vertex> &boxLines() const { return m_lines; }
    QVector3D boxMin() const { return m_boxMin; }
    QVector3D boxMax() const { return m_boxMax; }
    // Major tick values of an axis (0 x, 1 y, 2 z) in data units.
    QVector<double> majorTicks(int axis) const;
    // Where an axis' numbers go: the box edge from `edgeStart` along the
    // axis, and the offset from it to the numbers.
    void axisEdge(int axis, QVector3D &edgeStart, QVector3D &outward) const;

    // The position of the point a pixel would give (data units), as drawn.
    QVector3D pointFor(int col, int row, quint16 value) const;
    // Colour of a depth value in whole centimetres (the depth colour map over 0 to 400 cm).
    QRgb colourForCm(int cm) const { return m_colours.at(qBound(0, cm, m_colours.size() - 1)); }

    // View: rotation about x, y, z in degrees, zoom, and a shift on the screen
    // in eye units.
    QVector3D rotation() const { return m_rotation; }
    float zoom() const { return m_zoom; }
    QPointF pan() const { return m_pan; }
    void setRotation(const QVector3D &degrees) { m_rotation = degrees; }
    void setZoom(float zoom) { m_zoom = qBound(0.02f, zoom, 50.0f); }
    void resetView();
    bool isInitialView() const;
    // Mouse and keyboard steps.
    void orbit(float dxDegrees, float dyDegrees);
    void zoomBy(float factor) { setZoom(m_zoom * factor); }
    void panPixels(float dx, float dy, const QSize &viewport);

    // Eye units (scaled data units) per screen pixel.
    float unitsPerPixel(const QSize &viewport) const;
    QMatrix4x4 modelView() const;
    QMatrix4x4 projection(const QSize &viewport) const;
    QMatrix4x4 transform(const QSize &viewport) const { return projection(viewport) * modelView(); }
    // Window position (origin top left, y down) of a point in data units.
    QPointF toScreen(const QVector3D &point, const QSize &viewport) const;

private:
    void rebuildBox();
    void rebuildRays();
    Vertex makeVertex(const QVector3D &p, QRgb colour) const;

    int m_width = 0;
    int m_height = 0;
    Mode m_mode = PixelGrid;
    LensParameters m_lens;
    QVector<Vertex> m_vertices;
    int m_pointCount = 0;
    // Metric mode, per pixel: x / z and y / z, and z per millimetre of distance.
    QVector<float> m_rays;
    QVector<QRgb> m_colours; // by whole centimetres, 0 to 1499
    QVector<Vertex> m_lines;
    QVector3D m_boxMin, m_boxMax;
    QVector3D m_scale;
    float m_radius = 1.0f; // the pixel grid box's half diagonal before scaling
    int m_boxGeneration = 0;

    QVector3D m_rotation;
    float m_zoom = InitialZoom;
    QPointF m_pan;
};

#endif // POINTCLOUDSCENE_H
