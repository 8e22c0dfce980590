#include "views/ShowPoint.h"

ShowPoint::ShowPoint(QWidget *parent)
    : QWidget(parent)
{
}

ShowPoint::~ShowPoint() = default;

void ShowPoint::setPoint(int, int) { }

QPoint ShowPoint::point() const
{
    return QPoint(80, 30);
}

void ShowPoint::setRange(int, int) { }

void ShowPoint::showValue(quint8, int) { }
