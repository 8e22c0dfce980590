#include "views/RangeSlider.h"

RangeSlider::RangeSlider(QWidget *parent)
    : QWidget(parent)
{
}

void RangeSlider::setRange(int, int) { }
