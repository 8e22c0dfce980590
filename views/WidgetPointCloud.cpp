#include "views/WidgetPointCloud.h"

#include "views/PointCloudView.h"
#include "views/WindowPlacement.h"

#include "ui_WidgetPointCloud.h"

#include <QDebug>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QScreen>

namespace {

// Platforms without windows on a screen (offscreen, minimal) have nothing to
// draw OpenGL into; elsewhere a context must be possible.
bool openGLAvailable()
{
    static const bool available = [] {
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
            return false;
        QOpenGLContext probe;
        return probe.create();
    }();
    return available;
}

} // namespace

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

    if (openGLAvailable()) {
        m_view = new PointCloudView(ui->widget3D);
        m_view->setGeometry(ui->widget3D->rect());
        setFocusProxy(m_view);
    }
    m_pacer.setSingleShot(true);
    connect(&m_pacer, &QTimer::timeout, this, [this] {
        if (isVisible())
            m_view->update();
    });
    updatePointCloud();
}

WidgetPointCloud::~WidgetPointCloud()
{
    delete ui;
}

bool WidgetPointCloud::canRender() const
{
    return m_view != nullptr;
}

bool WidgetPointCloud::updatePending() const
{
    return m_view && m_view->frameWaiting();
}

qint64 WidgetPointCloud::lastRedrawTime() const
{
    return m_view ? m_view->lastPaintMicroseconds() / 1000 : 0;
}

int WidgetPointCloud::redrawCount() const
{
    return m_view ? m_view->paintCount() : 0;
}

void WidgetPointCloud::updatePointCloud()
{
    if (!m_view) {
        static bool reported = false;
        if (!reported)
            qDebug() << "Point cloud: no OpenGL context, the plot is not drawn";
        reported = true;
        return;
    }
    m_view->markFrameChanged();
    // A hidden window is not painted; showEvent() draws the waiting frame.
    if (!isVisible() || m_pacer.isActive())
        return;
    // On a software renderer a redraw can take longer than the camera needs
    // for the next frame; waiting as long as the last one took keeps at
    // least half of the time for reading the port.
    const qint64 wait = m_view->lastRedrawWallMs() - m_view->sinceRedrawMs();
    if (wait <= 0)
        m_view->update();
    else
        m_pacer.start(int(wait));
}

void WidgetPointCloud::redrawNow()
{
    if (!m_view)
        return;
    m_pacer.stop();
    m_view->markFrameChanged();
    m_view->repaint();
}

void WidgetPointCloud::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_view && m_view->frameWaiting())
        m_view->update();
}

void WidgetPointCloud::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(ui->widget3D->geometry());
}
