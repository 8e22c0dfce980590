#include "views/PictureBox.h"

#include "device/DeviceState.h"
#include "views/PictureGeometry.h"
#include "views/ShowPoint.h"
#include "views/WindowPlacement.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

PictureBox::PictureBox(QWidget *parent)
    : QWidget(parent)
    , m_inspector(new ShowPoint)
    , m_pixmap(deviceState().initialImageSize)
{
    m_pixmap.fill(Qt::white);

    setWindowFlags(windowType() | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(3 * (available.width() / 5), available.height() / 5);
        WindowPlacement::placeWhenShown(this, pos());
    }
    setWindowTitle(QStringLiteral("Depth image"));

    // The point starts where the inspector shows it, so the marker, the
    // read-out and the inspector's coordinates agree from the first frame.
    setPointLabel();
    connect(m_inspector, &ShowPoint::pointChanged, this, &PictureBox::setPointLabel);
}

PictureBox::~PictureBox()
{
    delete m_inspector;
}

void PictureBox::setDisplayMode(int mode)
{
    m_mode = mode;
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    update();
}

bool PictureBox::setImage(QImage &image, double scale)
{
    if (image.isNull())
        return false;

    if (m_flipHorizontal || m_flipVertical)
        image = image.mirrored(m_flipHorizontal, m_flipVertical);

    if (m_inspector->showLabel()) {
        if (image.depth() <= 8)
            image = image.convertToFormat(QImage::Format_RGB32);
        const QRect block = PictureGeometry::markerBlock(QPoint(m_pointX, m_pointY), image.size());
        const QRgb markerColor = qRgb(128, 0, 128);
        for (int y = block.top(); y <= block.bottom(); ++y) {
            for (int x = block.left(); x <= block.right(); ++x)
                image.setPixel(x, y, markerColor);
        }
    }

    m_pixmap = QPixmap::fromImage(image);
    m_scale = PictureGeometry::clampScale(scale);
    update();
    return true;
}

void PictureBox::setBackground(QBrush brush)
{
    m_background = brush;
    update();
}

void PictureBox::setPointLabel()
{
    const QPoint p = m_inspector->point();
    m_pointX = p.x();
    m_pointY = p.y();
}

void PictureBox::updatePointValue(quint8 frameMode, const quint16 *frame, int distanceOffset)
{
    const DeviceState &state = deviceState();
    const int width = state.imageWidth;
    const int height = state.imageHeight;
    if (!frame || width <= 0 || height <= 0)
        return;
    if (frame == state.frameBuffer.constData() && state.frameBuffer.size() < width * height)
        return;

    // After a change of sensor the inspector may still offer positions of the
    // previous one; narrowing its range moves the point back into this frame.
    if (m_inspector->maximum() != QPoint(width - 1, height - 1))
        m_inspector->setRange(width - 1, height - 1);

    const int index
        = PictureGeometry::sourceIndex(m_pointX, m_pointY, width, height, m_flipHorizontal, m_flipVertical);
    m_inspector->showValue(frameMode, PictureGeometry::readoutValue(frame[index], distanceOffset));
}

void PictureBox::mousePressEvent(QMouseEvent *event)
{
    // The fit of what the widget shows; the scale setImage() stored only
    // lasts until the next paint and would misplace a click made before it.
    const PictureGeometry::Fit fit = currentFit();
    const QPoint p = PictureGeometry::pixelAt(event->pos(), fit);

    // The inspector's spin boxes keep the point inside the sensor; read it
    // back even when they did not change, so a click in the margin never
    // leaves an outside position behind.
    m_inspector->setPoint(p.x(), p.y());
    setPointLabel();
    emit mousePressed();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    const PictureGeometry::Fit fit = currentFit();
    m_scale = fit.scale;
    m_offsetX = fit.offsetX;
    m_offsetY = fit.offsetY;

    painter.translate(m_offsetX, m_offsetY);
    painter.scale(m_scale, m_scale);
    painter.drawPixmap(0, 0, m_pixmap);
    PictureGeometry::drawLegend(painter, m_mode, m_pixmap.size());
}

PictureGeometry::Fit PictureBox::currentFit() const
{
    return PictureGeometry::fit(size(), m_pixmap.size(), PictureGeometry::legendFactor(m_mode));
}

void PictureBox::resizeEvent(QResizeEvent *)
{
    emit imageResized();
}
