#include "views/PointCloudView.h"

#include "device/DeviceState.h"

#include <QAction>
#include <QActionGroup>
#include <QDebug>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QWheelEvent>

#include <cmath>
#include <utility>

#ifndef GL_PROGRAM_POINT_SIZE
#define GL_PROGRAM_POINT_SIZE 0x8642
#endif

namespace {

// Each point has one colour: where the shading language has flat inputs the
// rasteriser skips interpolating it per pixel; the portable pair below is the
// fallback.
const char *const FlatVertexShader = R"(#version 130
in highp vec3 position;
in lowp vec4 colour;
uniform highp mat4 transform;
uniform mediump float pointSize;
flat out lowp vec4 fragmentColour;
void main()
{
    gl_Position = transform * vec4(position, 1.0);
    gl_PointSize = pointSize;
    fragmentColour = colour;
}
)";

const char *const FlatFragmentShader = R"(#version 130
flat in lowp vec4 fragmentColour;
out lowp vec4 pixelColour;
void main()
{
    pixelColour = fragmentColour;
}
)";

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

// The overlay: corners in clip space, the image's texels by texture coordinates.
const char *const OverlayVertexShader = R"(
attribute highp vec4 corner;
varying highp vec2 texel;
void main()
{
    gl_Position = vec4(corner.xy, 0.0, 1.0);
    texel = corner.zw;
}
)";

const char *const OverlayFragmentShader = R"(
uniform sampler2D overlay;
varying highp vec2 texel;
void main()
{
    gl_FragColor = texture2D(overlay, texel);
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
    m_pointsArray.destroy();
    m_linesArray.destroy();
    m_overlayArray.destroy();
    m_points.destroy();
    m_lines.destroy();
    m_overlayQuads.destroy();
    if (m_overlayTexture)
        glDeleteTextures(1, &m_overlayTexture);
    m_overlayTexture = 0;
    m_overlay.invalidate();
    delete m_program;
    m_program = nullptr;
    delete m_overlayProgram;
    m_overlayProgram = nullptr;
    m_pointsCapacity = -1;
    m_linesGeneration = -1;
    m_initialized = false;
}

void PointCloudView::initializeGL()
{
    initializeOpenGLFunctions();
    const auto build = [](const char *vertex, const char *fragment, bool report) -> QOpenGLShaderProgram * {
        auto *program = new QOpenGLShaderProgram;
        if (program->addShaderFromSourceCode(QOpenGLShader::Vertex, vertex)
            && program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment) && program->link())
            return program;
        if (report)
            qDebug() << "Point cloud: the shaders do not build, the plot is not drawn:" << program->log();
        delete program;
        return nullptr;
    };
    const bool flatInputs = !context()->isOpenGLES() && context()->format().version() >= qMakePair(3, 0);
    m_program = flatInputs ? build(FlatVertexShader, FlatFragmentShader, false) : nullptr;
    if (!m_program)
        m_program = build(VertexShader, FragmentShader, true);
    m_overlayProgram = m_program ? build(OverlayVertexShader, OverlayFragmentShader, true) : nullptr;
    if (!m_overlayProgram) {
        delete m_program;
        m_program = nullptr;
        return;
    }
    m_transformUniform = m_program->uniformLocation("transform");
    m_pointSizeUniform = m_program->uniformLocation("pointSize");
    m_points.setUsagePattern(QOpenGLBuffer::DynamicDraw);
    m_lines.setUsagePattern(QOpenGLBuffer::StaticDraw);
    m_overlayQuads.setUsagePattern(QOpenGLBuffer::DynamicDraw);
    m_points.create();
    m_lines.create();
    m_overlayQuads.create();

    glGenTextures(1, &m_overlayTexture);
    glBindTexture(GL_TEXTURE_2D, m_overlayTexture);
    // One texel to one pixel: nearest keeps the painted text as painted.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);

    // Without vertex array objects the attributes are set before each draw.
    if (m_pointsArray.create()) {
        QOpenGLVertexArrayObject::Binder bind(&m_pointsArray);
        pointAttributes(m_points);
    }
    if (m_linesArray.create()) {
        QOpenGLVertexArrayObject::Binder bind(&m_linesArray);
        pointAttributes(m_lines);
    }
    if (m_overlayArray.create()) {
        QOpenGLVertexArrayObject::Binder bind(&m_overlayArray);
        m_overlayQuads.bind();
        m_overlayProgram->enableAttributeArray("corner");
        m_overlayProgram->setAttributeBuffer("corner", GL_FLOAT, 0, 4);
        m_overlayQuads.release();
    }

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

void PointCloudView::pointAttributes(QOpenGLBuffer &buffer)
{
    const int stride = int(sizeof(PointCloudScene::Vertex));
    buffer.bind();
    m_program->enableAttributeArray("position");
    m_program->enableAttributeArray("colour");
    m_program->setAttributeBuffer("position", GL_FLOAT, 0, 3, stride);
    // Colour bytes, normalised to 0 to 1.
    m_program->setAttributeBuffer("colour", GL_UNSIGNED_BYTE, 12, 4, stride);
    buffer.release();
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
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
    glEnable(GL_PROGRAM_POINT_SIZE);
    m_program->bind();
    m_program->setUniformValue(m_transformUniform, m_scene.transform(size()));
    const auto draw = [&](QOpenGLVertexArrayObject &array, QOpenGLBuffer &buffer, GLenum primitive, int count,
                          float pointSize) {
        if (count <= 0)
            return;
        m_program->setUniformValue(m_pointSizeUniform, pointSize);
        if (array.isCreated()) {
            QOpenGLVertexArrayObject::Binder bind(&array);
            glDrawArrays(primitive, 0, count);
            return;
        }
        pointAttributes(buffer);
        glDrawArrays(primitive, 0, count);
        m_program->disableAttributeArray("position");
        m_program->disableAttributeArray("colour");
    };
    draw(m_linesArray, m_lines, GL_LINES, m_lineVertices, 1.0f);
    draw(m_pointsArray, m_points, GL_POINTS, m_scene.pointCount(), PointSize);
    m_program->release();
    glDisable(GL_DEPTH_TEST);

    drawOverlay();
    m_paintMicroseconds = timer.nsecsElapsed() / 1000;
}

void PointCloudView::drawOverlay()
{
    const qreal ratio = devicePixelRatioF();
    if (m_overlay.update(m_scene, size(), ratio)) {
        const QImage &image = m_overlay.image();
        glBindTexture(GL_TEXTURE_2D, m_overlayTexture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width(), image.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
            image.constBits());
        glBindTexture(GL_TEXTURE_2D, 0);
        // Two triangles per painted part: clip space x, y and texture s, t
        // (the image's top row is the texture's first).
        const float w = float(image.width());
        const float h = float(image.height());
        QVector<float> corners;
        corners.reserve(m_overlay.parts().size() * 24);
        for (const QRect &part : m_overlay.parts()) {
            const float left = float(part.left()) / w;
            const float right = float(part.right() + 1) / w;
            const float top = float(part.top()) / h;
            const float bottom = float(part.bottom() + 1) / h;
            for (const auto &[s, t] :
                { std::pair { left, top }, std::pair { right, top }, std::pair { left, bottom },
                    std::pair { right, top }, std::pair { right, bottom }, std::pair { left, bottom } })
                corners << 2.0f * s - 1.0f << 1.0f - 2.0f * t << s << t;
        }
        m_overlayQuads.bind();
        m_overlayQuads.allocate(corners.constData(), qMax(1, corners.size()) * int(sizeof(float)));
        m_overlayQuads.release();
        m_overlayVertices = corners.size() / 4;
    }
    if (m_overlayVertices <= 0)
        return;

    // The image is premultiplied.
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, m_overlayTexture);
    m_overlayProgram->bind();
    m_overlayProgram->setUniformValue("overlay", 0);
    if (m_overlayArray.isCreated()) {
        QOpenGLVertexArrayObject::Binder bind(&m_overlayArray);
        glDrawArrays(GL_TRIANGLES, 0, m_overlayVertices);
    } else {
        m_overlayQuads.bind();
        m_overlayProgram->enableAttributeArray("corner");
        m_overlayProgram->setAttributeBuffer("corner", GL_FLOAT, 0, 4);
        glDrawArrays(GL_TRIANGLES, 0, m_overlayVertices);
        m_overlayProgram->disableAttributeArray("corner");
        m_overlayQuads.release();
    }
    m_overlayProgram->release();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_BLEND);
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
