#ifndef POINTCLOUDVIEW_H
#define POINTCLOUDVIEW_H

#include "views/PointCloudOverlay.h"
#include "views/PointCloudScene.h"

#include <QElapsedTimer>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWidget>
#include <QPoint>

class QMenu;
class QAction;

// Draws a PointCloudScene: one vertex buffer sized once per sensor, one
// upload and one draw call per frame, the box as lines, the axis numbers and
// the colour legend blended over it from an image painted only when the view
// changes. Left drag orbits, the wheel zooms, right
// or middle drag pans, a double click returns to the initial view; arrows,
// + / - and Home do the same from the keyboard. A right click without a drag
// opens the menu that chooses between the pixel grid and the metric cloud.
class PointCloudView : public QOpenGLWidget, protected QOpenGLFunctions
{
    Q_OBJECT

public:
    explicit PointCloudView(QWidget *parent = nullptr);
    ~PointCloudView() override;

    PointCloudScene &scene() { return m_scene; }
    const PointCloudScene &scene() const { return m_scene; }

    // Takes the shared frame buffer at the next paint (frames that arrive in
    // between replace it; only the newest is drawn).
    void markFrameChanged() { m_frameChanged = true; }
    bool frameWaiting() const { return m_frameChanged; }
    void setMode(PointCloudScene::Mode mode);
    QMenu *modeMenu() const { return m_menu; }

    // False until a context has been made, and where none can be.
    bool hasContext() const { return m_initialized; }
    int paintCount() const { return m_paints; }
    // Wall time from the start of the last paint until it was on the screen,
    // in milliseconds, and the time since then.
    qint64 lastRedrawWallMs() const { return m_redrawWallMs; }
    qint64 sinceRedrawMs() const { return m_sinceSwap.isValid() ? m_sinceSwap.elapsed() : m_redrawWallMs; }
    // Duration of the last paint and of its fill and upload, in microseconds.
    qint64 lastPaintMicroseconds() const { return m_paintMicroseconds; }
    qint64 lastUploadMicroseconds() const { return m_uploadMicroseconds; }
    // A paint that only clears (the floor of what a redraw costs).
    void setClearOnly(bool clearOnly) { m_clearOnly = clearOnly; }

signals:
    void viewChanged();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void releaseGL();
    void takeFrame();
    void drawOverlay();
    void pointAttributes(QOpenGLBuffer &buffer);
    void changed();

    PointCloudScene m_scene;
    QOpenGLShaderProgram *m_program = nullptr;
    int m_transformUniform = -1;
    int m_pointSizeUniform = -1;
    QOpenGLBuffer m_points { QOpenGLBuffer::VertexBuffer };
    QOpenGLBuffer m_lines { QOpenGLBuffer::VertexBuffer };
    // The attribute set-up of each buffer, made once (where the context has them).
    QOpenGLVertexArrayObject m_pointsArray;
    QOpenGLVertexArrayObject m_linesArray;
    QOpenGLVertexArrayObject m_overlayArray;
    PointCloudOverlay m_overlay;
    QOpenGLShaderProgram *m_overlayProgram = nullptr;
    QOpenGLBuffer m_overlayQuads { QOpenGLBuffer::VertexBuffer };
    GLuint m_overlayTexture = 0;
    int m_overlayVertices = 0;
    int m_pointsCapacity = -1;
    int m_linesGeneration = -1;
    int m_lineVertices = 0;
    bool m_initialized = false;
    bool m_frameChanged = true;
    bool m_clearOnly = false;
    int m_paints = 0;
    qint64 m_uploadMicroseconds = 0;
    qint64 m_paintMicroseconds = 0;
    qint64 m_redrawWallMs = 0;
    QElapsedTimer m_paintStart;
    QElapsedTimer m_sinceSwap;

    Qt::MouseButton m_dragButton = Qt::NoButton;
    QPoint m_pressPos;
    QPoint m_lastPos;
    bool m_dragged = false;
    QMenu *m_menu = nullptr;
    QAction *m_pixelGridAction = nullptr;
    QAction *m_metricAction = nullptr;
};

#endif // POINTCLOUDVIEW_H
