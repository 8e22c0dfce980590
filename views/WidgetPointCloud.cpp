#include "views/WidgetPointCloud.h"

WidgetPointCloud::WidgetPointCloud(QWidget *parent)
    : QWidget(parent)
{
}

WidgetPointCloud::~WidgetPointCloud() = default;

void WidgetPointCloud::updatePointCloud() { }
