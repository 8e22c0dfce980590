#ifndef RANGESLIDER_H
#define RANGESLIDER_H

#include <QWidget>

// A horizontal slider with two handles selecting a lower and an upper value.
class RangeSlider : public QWidget
{
    Q_OBJECT

public:
    explicit RangeSlider(QWidget *parent = nullptr);

    void setRange(int minimum, int maximum);
};

#endif // RANGESLIDER_H
