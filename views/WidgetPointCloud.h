#ifndef WIDGETPOINTCLOUD_H
#define WIDGETPOINTCLOUD_H

#include <QTimer>
#include <QWidget>

namespace Ui {
class WidgetPointCloud;
}
class PointCloudView;

// Shows the current depth frame as a rotating 3-D point cloud: x and y are the
// pixel column and row, z the distance in centimetres (or, chosen from the
// view's context menu, the metric points of the point cloud log).
class WidgetPointCloud : public QWidget
{
    Q_OBJECT

public:
    explicit WidgetPointCloud(QWidget *parent = nullptr);
    ~WidgetPointCloud() override;

    // Takes the newest frame of the shared frame buffer and schedules a
    // redraw. Called for every frame; frames that arrive before the redraw
    // replace each other, and while the window is hidden the newest one
    // waits until it is shown. Redraws leave the GUI thread at least as much
    // time as they take, so frame reception never backs up.
    void updatePointCloud();
    // The full update at once.
    void redrawNow();
    bool updatePending() const;
    // Duration of the last redraw, in milliseconds, and the number of redraws.
    qint64 lastRedrawTime() const;
    int redrawCount() const;

    // The drawing area; null where no OpenGL context can be made (offscreen platforms).
    PointCloudView *view() const { return m_view; }
    bool canRender() const;

    static constexpr double MaximumDistance = 400.0;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    Ui::WidgetPointCloud *ui;
    PointCloudView *m_view = nullptr;
    QTimer m_pacer;
};

#endif // WIDGETPOINTCLOUD_H
