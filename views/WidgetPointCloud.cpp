#include "views/WidgetPointCloud.h"

#include "app/DeviceState.h"
#include "app/WindowPlacement.h"
#include "views/FunctionDistance.h"

#include "ui_WidgetPointCloud.h"

#include <QDebug>
#include <QGuiApplication>
#include <QScreen>

#include <qwt3d_surfaceplot.h>

WidgetPointCloud::WidgetPointCloud(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::WidgetPointCloud)
{
    setWindowFlags(windowType() | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(3 * (available.width() / 5), available.height() / 5);
        WindowPlacement::placeWhenShown(this, pos());
    }
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Pointcloud"));
    hide();

    m_plot = new Qwt3D::SurfacePlot(ui->widget3D);
    m_plot->setGeometry(ui->widget3D->rect());
    // The library's own point style: Qwt3D::POINTS draws one-pixel points, the
    // Dot enrichment carries the point size. Unsmoothed, since smoothing
    // costs more than the rest of the update on software OpenGL.
    m_plot->setPlotStyle(Qwt3D::Dot(2.5, false));
    m_plot->coordinates()->setGridLines(true, true);
    m_plot->setCoordinateStyle(Qwt3D::BOX);
    m_plot->showColorLegend(true);
    m_plot->setScale(4.0, 4.0, 0.5);
    m_plot->setRotation(-127.0, 17.0, 11.0);
    m_plot->setZoom(0.4);
    m_plot->coordinates()->setAutoScale(false);

    m_function = new FunctionDistance(*m_plot);
    applyFrameGeometry();
    m_pacer.setSingleShot(true);
    connect(&m_pacer, &QTimer::timeout, this, [this] {
        // Hidden meanwhile: the frame waits for the window to be shown again.
        if (isVisible())
            redrawNow();
    });
    updatePointCloud();
}

WidgetPointCloud::~WidgetPointCloud()
{
    // The function refers to the plot; it goes first.
    delete m_function;
    delete ui;
}

bool WidgetPointCloud::canRender() const
{
    return m_plot && m_plot->isValid();
}

void WidgetPointCloud::applyFrameGeometry()
{
    m_width = deviceState().imageWidth;
    m_height = deviceState().imageHeight;
    m_function->setMesh(m_width, m_height);
    m_function->setDomain(0, m_width, 0, m_height);
    // The library clamps every sample into [min z, max z].
    m_function->setMinZ(0.0);
    m_function->setMaxZ(MaximumDistance);
}

void WidgetPointCloud::updatePointCloud()
{
    if (!canRender()) {
        static bool reported = false;
        if (!reported)
            qDebug() << "Point cloud: no OpenGL context, the plot is not drawn";
        reported = true;
        return;
    }
    m_pending = true;
    if (!isVisible())
        return;
    // A redraw of a 320 x 240 frame can take longer than the camera needs for
    // the next one; waiting as long as the last redraw took leaves the frame
    // reception at least half of the time, so the stream never backs up.
    const qint64 since = m_sinceRedraw.isValid() ? m_sinceRedraw.elapsed() : m_redrawTime;
    if (since >= m_redrawTime)
        redrawNow();
    else if (!m_pacer.isActive())
        m_pacer.start(int(qMax<qint64>(1, m_redrawTime - since)));
}

void WidgetPointCloud::redrawNow()
{
    m_pacer.stop();
    m_pending = false;
    if (!canRender())
        return;
    QElapsedTimer timer;
    timer.start();
    if (deviceState().imageWidth != m_width || deviceState().imageHeight != m_height)
        applyFrameGeometry();

    m_function->create();
    // The box always spans the whole frame and 0 to 400 cm, whatever the
    // distances of this frame.
    m_plot->createCoordinateSystem(Qwt3D::Triple(0, 0, 0), Qwt3D::Triple(m_width, m_height, MaximumDistance));
    // The colours span the distances of this frame; the legend says which.
    m_plot->legend()->setLimits(m_plot->hull().minVertex.z, m_plot->hull().maxVertex.z);
    m_plot->updateGL();

    m_redrawTime = timer.elapsed();
    ++m_redrawCount;
    m_sinceRedraw.start();
}

void WidgetPointCloud::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_pending)
        redrawNow();
}

void WidgetPointCloud::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_plot)
        m_plot->setGeometry(ui->widget3D->geometry());
}
