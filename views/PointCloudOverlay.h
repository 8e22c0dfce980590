#ifndef POINTCLOUDOVERLAY_H
#define POINTCLOUDOVERLAY_H

#include "views/PointCloudScene.h"

#include <QImage>
#include <QMatrix4x4>
#include <QRect>
#include <QVector>

// The axis numbers and the colour legend that lie over the plot, painted
// into a transparent image only when the view, the size or the box changes.
// Between changes the window blends the same image over every redraw, and
// only its painted parts, so a new frame costs no text drawing.
class PointCloudOverlay
{
public:
    PointCloudOverlay();

    // Paints again if anything the numbers or the legend depend on changed
    // since the last call; returns whether it did. `size` is in logical
    // pixels, the image in device pixels.
    bool update(const PointCloudScene &scene, const QSize &size, qreal devicePixelRatio);
    void invalidate() { m_generation = -1; }

    // Premultiplied RGBA bytes in memory order, top row first.
    const QImage &image() const { return m_image; }
    // The parts of the image that hold something, in device pixels, none
    // overlapping another (each is blended once).
    const QVector<QRect> &parts() const { return m_parts; }

private:
    void paint(const PointCloudScene &scene, const QSize &size, qreal devicePixelRatio);

    QImage m_legendBar;
    QImage m_image;
    QVector<QRect> m_parts;
    QMatrix4x4 m_transform;
    QSize m_size;
    qreal m_devicePixelRatio = 0;
    int m_generation = -1;
    PointCloudScene::Mode m_mode = PointCloudScene::PixelGrid;
};

#endif // POINTCLOUDOVERLAY_H
