#include "views/PointCloudOverlay.h"

#include <QPainter>
#include <QRegion>

PointCloudOverlay::PointCloudOverlay()
{
    // The legend's colour bar, far (400 cm) at the top.
    const PointCloudScene colours;
    m_legendBar = QImage(1, PointCloudScene::BoxDepthCm + 1, QImage::Format_RGB32);
    for (int cm = 0; cm <= PointCloudScene::BoxDepthCm; ++cm)
        m_legendBar.setPixel(0, PointCloudScene::BoxDepthCm - cm, colours.colourForCm(cm));
}

bool PointCloudOverlay::update(const PointCloudScene &scene, const QSize &size, qreal devicePixelRatio)
{
    const QMatrix4x4 transform = scene.transform(size);
    if (m_generation == scene.boxGeneration() && m_mode == scene.mode() && m_size == size
        && m_devicePixelRatio == devicePixelRatio && m_transform == transform)
        return false;
    m_generation = scene.boxGeneration();
    m_mode = scene.mode();
    m_size = size;
    m_devicePixelRatio = devicePixelRatio;
    m_transform = transform;
    paint(scene, size, devicePixelRatio);
    return true;
}

void PointCloudOverlay::paint(const PointCloudScene &scene, const QSize &size, qreal devicePixelRatio)
{
    const QSize pixels = (QSizeF(size) * devicePixelRatio).toSize().expandedTo(QSize(1, 1));
    if (m_image.size() != pixels)
        m_image = QImage(pixels, QImage::Format_RGBA8888_Premultiplied);
    m_image.setDevicePixelRatio(devicePixelRatio);
    m_image.fill(Qt::transparent);

    QPainter painter(&m_image);
    painter.setPen(Qt::black);
    QFont font = painter.font();
    font.setPointSize(8);
    painter.setFont(font);
    const QFontMetrics metrics(font, &m_image);
    const bool metric = scene.mode() == PointCloudScene::Metric;
    // What is painted, with a pixel to spare for antialiased edges.
    QRegion painted;
    const auto text = [&](const QPointF &at, const QString &string) {
        painter.drawText(at, string);
        painted += metrics.boundingRect(string).translated(at.toPoint()).adjusted(-2, -2, 2, 2);
    };

    // Axis numbers beside three edges of the box.
    for (int axis = 0; axis < 3; ++axis) {
        QVector3D start;
        QVector3D outward;
        scene.axisEdge(axis, start, outward);
        for (double tick : scene.majorTicks(axis)) {
            QVector3D p = start;
            p[axis] = float(tick);
            const QPointF at = scene.toScreen(p + outward, size);
            const QString string = metric ? QString::number(tick, 'g', 3) : QString::number(qRound(tick));
            const QRect box = metrics.boundingRect(string);
            text(QPointF(at.x() - box.width() / 2.0, at.y() + metrics.ascent() / 2.0), string);
        }
    }

    // The colour legend on the right: the depth colour map from 0 to 400 cm.
    const int barWidth = 12;
    const QRect bar(size.width() - 56, size.height() / 5, barWidth, 3 * size.height() / 5);
    painter.drawImage(bar, m_legendBar);
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    painted += bar.adjusted(-1, -1, 6, 1);
    for (int cm = 0; cm <= PointCloudScene::BoxDepthCm; cm += 100) {
        const int y = bar.bottom() - cm * (bar.height() - 1) / PointCloudScene::BoxDepthCm;
        painter.drawLine(bar.right(), y, bar.right() + 4, y);
        text(QPointF(bar.right() + 7, y + metrics.ascent() / 2.0), QString::number(cm));
    }
    text(QPointF(bar.left(), bar.top() - 6), QStringLiteral("cm"));
    painter.end();

    // Whole device pixels, and the region again so rounding leaves no overlap.
    QRegion device;
    for (const QRect &part : painted)
        device += QRectF(QPointF(part.topLeft()) * devicePixelRatio, QSizeF(part.size()) * devicePixelRatio)
                      .toAlignedRect();
    device &= QRect(QPoint(0, 0), pixels);
    m_parts.clear();
    for (const QRect &part : device)
        m_parts << part;
}
