#ifndef WIDGETPOINTCLOUD_H
#define WIDGETPOINTCLOUD_H

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace Ui {
class WidgetPointCloud;
}
namespace Qwt3D {
class SurfacePlot;
}
class FunctionDistance;

// Shows the current depth frame as a rotating 3-D point cloud: x and y are the
// pixel column and row, z the distance in centimetres.
class WidgetPointCloud : public QWidget
{
    Q_OBJECT

public:
    explicit WidgetPointCloud(QWidget *parent = nullptr);
    ~WidgetPointCloud() override;

    // Recomputes the cloud from the shared frame buffer and repaints. Called
    // for every frame; while the window is hidden, or while redrawing would
    // take more than half of the GUI thread's time, the redraw is put off
    // (until shown, or until a short timer runs out) and then shows the
    // newest frame.
    void updatePointCloud();
    // The full update at once, whatever the pace.
    void redrawNow();
    bool updatePending() const { return m_pending; }
    // Duration of the last redraw, in milliseconds, and the number of redraws.
    qint64 lastRedrawTime() const { return m_redrawTime; }
    int redrawCount() const { return m_redrawCount; }

    Qwt3D::SurfacePlot *plot() const { return m_plot; }
    FunctionDistance *function() const { return m_function; }
    // False where no OpenGL context could be made (offscreen platforms).
    bool canRender() const;

    static constexpr double MaximumDistance = 400.0;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void applyFrameGeometry();

    Ui::WidgetPointCloud *ui;
    Qwt3D::SurfacePlot *m_plot = nullptr;
    FunctionDistance *m_function = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_pending = false;
    qint64 m_redrawTime = 0;
    int m_redrawCount = 0;
    QElapsedTimer m_sinceRedraw;
    QTimer m_pacer;
};

#endif // WIDGETPOINTCLOUD_H
