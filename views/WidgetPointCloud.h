#ifndef WIDGETPOINTCLOUD_H
#define WIDGETPOINTCLOUD_H

#include <QWidget>

// Shows the current depth frame as a rotating 3-D point cloud.
class WidgetPointCloud : public QWidget
{
    Q_OBJECT

public:
    explicit WidgetPointCloud(QWidget *parent = nullptr);
    ~WidgetPointCloud() override;

    // Recomputes the cloud from the shared frame buffer and repaints.
    void updatePointCloud();
};

#endif // WIDGETPOINTCLOUD_H
