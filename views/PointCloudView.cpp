#include "views/PointCloudView.h"

#include "app/DeviceState.h"

#include <QAction>
#include <QActionGroup>
#include <QDebug>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

#ifndef GL_PROGRAM_POINT_SIZE
#define GL_PROGRAM_POINT_SIZE 0x8642
#endif

namespace {

const char *const VertexShader = R"(
attribute highp vec3 position;
attribute lowp vec4 colour;
uniform highp mat4 transform;
uniform mediump float pointSize;
varying lowp vec4 fragmentColour;
void main()
{
    gl_Position = transform * vec4(position, 1.0);
    gl_PointSize = pointSize;
    fragmentColour = colour;
}
)";

const char *const FragmentShader = R"(
varying lowp vec4 fragmentColour;
void main()
{
    gl_FragColor = fragmentColour;
}
)";

constexpr float PointSize = 2.5f;
constexpr float OrbitDegreesPerPixel = 0.5f;
constexpr float KeyOrbitDegrees = 5.0f;
constexpr float ZoomStep = 1.15f;

} // namespace

PointCloudView::PointCloudView(QWidget *parent)
    : QOpenGLWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // Right button events come here whole: a right drag pans, a right click opens the menu.
    setContextMenuPolicy(Qt::PreventContextMenu);

    m_menu = new QMenu(this);
    auto *group = new QActionGroup(m_menu);
    m_pixelGridAction = m_menu->addAction(QStringLiteral("Pixel grid"));
    m_metricAction = m_menu->addAction(QStringLiteral("Metric (lens)"));
    for (QAction *action : { m_pixelGridAction, m_metricAction }) {
        action->setCheckable(true);
        group->addAction(action);
    }
    m_pixelGridAction->setChecked(true);
    connect(m_pixelGridAction, &QAction::triggered, this, [this] { setMode(PointCloudScene::PixelGrid); });
    connect(m_metricAction, &QAction::triggered, this, [this] { setMode(PointCloudScene::Metric); });

    // The legend's colour bar, far (400 cm) at the top.
    m_legendBar = QImage(1, PointCloudScene::BoxDepthCm + 1, QImage::Format_RGB32);
    for (int cm = 0; cm <= PointCloudScene::BoxDepthCm; ++cm)
        m_legendBar.setPixel(0, PointCloudScene::BoxDepthCm - cm, m_scene.colourForCm(cm));

    const DeviceState &state = deviceState();
    m_scene.setSensor(state.imageWidth, state.imageHeight);

    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (m_paintStart.isValid())
            m_redrawWallMs = m_paintStart.elapsed();
        m_sinceSwap.start();
    });
}

PointCloudView::~PointCloudView()
{
    if (context())
        disconnect(context(), nullptr, this, nullptr);
    if (m_initialized) {
        makeCurrent();
        releaseGL();
        doneCurrent();
    }
}

void PointCloudView::releaseGL()
{
    m_points.destroy();
    m_lines.destroy();
    delete m_program;
    m_program = nullptr;
    m_pointsCapacity = -1;
    m_linesGeneration = -1;
    m_initialized = false;
}

void PointCloudView::initializeGL()
{
    initializeOpenGLFunctions();
    m_program = new QOpenGLShaderProgram;
    if (!m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, VertexShader)
        || !m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, FragmentShader)
        || !m_program->link()) {
        qDebug() << "Point cloud: the shaders do not build, the plot is not drawn:" << m_program->log();
        delete m_program;
        m_program = nullptr;
        return;
    }
    m_points.setUsagePattern(QOpenGLBuffer::DynamicDraw);
    m_lines.setUsagePattern(QOpenGLBuffer::StaticDraw);
    m_points.create();
    m_lines.create();
    m_frameChanged = true;
    m_initialized = true;
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        if (!m_initialized)
            return;
        makeCurrent();
        releaseGL();
        doneCurrent();
    });
}

void PointCloudView::resizeGL(int, int) { }

void PointCloudView::setMode(PointCloudScene::Mode mode)
{
    m_scene.setMode(mode, LensParameters::fromDeviceState());
    (mode == PointCloudScene::Metric ? m_metricAction : m_pixelGridAction)->setChecked(true);
    m_frameChanged = true;
    update();
}

void PointCloudView::takeFrame()
{
    const DeviceState &state = deviceState();
    m_scene.setSensor(state.imageWidth, state.imageHeight);
    if (m_scene.mode() == PointCloudScene::Metric)
        m_scene.setMode(PointCloudScene::Metric, LensParameters::fromDeviceState());
    // Without a frame of this geometry (no camera) no points are drawn.
    m_scene.fill(state.frameBuffer.constData(), state.frameBuffer.size());

    m_points.bind();
    if (m_pointsCapacity != m_scene.capacity()) {
        m_pointsCapacity = m_scene.capacity();
        m_points.allocate(qMax(1, m_pointsCapacity) * int(sizeof(PointCloudScene::Vertex)));
    }
    if (m_scene.pointCount() > 0)
        m_points.write(0, m_scene.vertices(), m_scene.pointCount() * int(sizeof(PointCloudScene::Vertex)));
    m_points.release();
    m_frameChanged = false;
}

void PointCloudView::paintGL()
{
    QElapsedTimer timer;
    timer.start();
    m_paintStart.start();
    ++m_paints;
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!m_initialized || m_clearOnly) {
        m_paintMicroseconds = timer.nsecsElapsed() / 1000;
        return;
    }

    if (m_frameChanged) {
        takeFrame();
        m_uploadMicroseconds = timer.nsecsElapsed() / 1000;
    }
    if (m_linesGeneration != m_scene.boxGeneration()) {
        m_linesGeneration = m_scene.boxGeneration();
        const QVector<PointCloudScene::Vertex> &lines = m_scene.boxLines();
        m_lines.bind();
        m_lines.allocate(lines.constData(), qMax(1, lines.size()) * int(sizeof(PointCloudScene::Vertex)));
        m_lines.release();
        m_lineVertices = lines.size();
    }

    glEnable(GL_DEPTH_TEST);
    glEnable(GL_PROGRAM_POINT_SIZE);
    m_program->bind();
    m_program->setUniformValue("transform", m_scene.transform(size()));
    const int stride = int(sizeof(PointCloudScene::Vertex));
    const auto drawBuffer = [&](QOpenGLBuffer &buffer, GLenum primitive, int count, float pointSize) {
        if (count <= 0)
            return;
        buffer.bind();
        m_program->setUniformValue("pointSize", pointSize);
        m_program->enableAttributeArray("position");
        m_program->enableAttributeArray("colour");
        m_program->setAttributeBuffer("position", GL_FLOAT, 0, 3, stride);
        // Colour bytes, normalised to 0 to 1.
        m_program->setAttributeBuffer("colour", GL_UNSIGNED_BYTE, 12, 4, stride);
        glDrawArrays(primitive, 0, count);
        m_program->disableAttributeArray("position");
        m_program->disableAttributeArray("colour");
        buffer.release();
    };
    drawBuffer(m_lines, GL_LINES, m_lineVertices, 1.0f);
    drawBuffer(m_points, GL_POINTS, m_scene.pointCount(), PointSize);
    m_program->release();
    glDisable(GL_DEPTH_TEST);

    paintOverlay();
    m_paintMicroseconds = timer.nsecsElapsed() / 1000;
}

void PointCloudView::paintOverlay()
{
    QPainter painter(this);
    painter.setPen(Qt::black);
    QFont font = painter.font();
    font.setPointSize(8);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const bool metric = m_scene.mode() == PointCloudScene::Metric;

    // Axis numbers beside three edges of the box.
    for (int axis = 0; axis < 3; ++axis) {
        QVector3D start;
        QVector3D outward;
        m_scene.axisEdge(axis, start, outward);
        for (double tick : m_scene.majorTicks(axis)) {
            QVector3D p = start;
            p[axis] = float(tick);
            const QPointF at = m_scene.toScreen(p + outward, size());
            const QString text = metric ? QString::number(tick, 'g', 3) : QString::number(qRound(tick));
            const QRect box = metrics.boundingRect(text);
            painter.drawText(QPointF(at.x() - box.width() / 2.0, at.y() + metrics.ascent() / 2.0), text);
        }
    }

    // The colour legend on the right: the depth colour map from 0 to 400 cm.
    const int barWidth = 12;
    const QRect bar(width() - 56, height() / 5, barWidth, 3 * height() / 5);
    painter.drawImage(bar, m_legendBar);
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    for (int cm = 0; cm <= PointCloudScene::BoxDepthCm; cm += 100) {
        const int y = bar.bottom() - cm * (bar.height() - 1) / PointCloudScene::BoxDepthCm;
        painter.drawLine(bar.right(), y, bar.right() + 4, y);
        painter.drawText(QPointF(bar.right() + 7, y + metrics.ascent() / 2.0), QString::number(cm));
    }
    painter.drawText(QPointF(bar.left(), bar.top() - 6), QStringLiteral("cm"));
}

void PointCloudView::changed()
{
    update();
    emit viewChanged();
}

void PointCloudView::mousePressEvent(QMouseEvent *event)
{
    m_dragButton = event->button();
    m_pressPos = m_lastPos = event->pos();
    m_dragged = false;
    event->accept();
}

void PointCloudView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragButton == Qt::NoButton)
        return;
    const QPoint delta = event->pos() - m_lastPos;
    m_lastPos = event->pos();
    if ((event->pos() - m_pressPos).manhattanLength() > 3)
        m_dragged = true;
    if (m_dragButton == Qt::LeftButton)
        m_scene.orbit(delta.x() * OrbitDegreesPerPixel, delta.y() * OrbitDegreesPerPixel);
    else
        m_scene.panPixels(delta.x(), delta.y(), size());
    changed();
}

void PointCloudView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton && m_dragButton == Qt::RightButton && !m_dragged)
        m_menu->popup(event->globalPos());
    if (event->button() == m_dragButton)
        m_dragButton = Qt::NoButton;
}

void PointCloudView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_scene.resetView();
    changed();
}

void PointCloudView::wheelEvent(QWheelEvent *event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    m_scene.zoomBy(float(std::pow(ZoomStep, steps)));
    changed();
}

void PointCloudView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        m_scene.orbit(-KeyOrbitDegrees, 0);
        break;
    case Qt::Key_Right:
        m_scene.orbit(KeyOrbitDegrees, 0);
        break;
    case Qt::Key_Up:
        m_scene.orbit(0, -KeyOrbitDegrees);
        break;
    case Qt::Key_Down:
        m_scene.orbit(0, KeyOrbitDegrees);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        m_scene.zoomBy(ZoomStep);
        break;
    case Qt::Key_Minus:
        m_scene.zoomBy(1.0f / ZoomStep);
        break;
    case Qt::Key_Home:
        m_scene.resetView();
        break;
    default:
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    changed();
}
