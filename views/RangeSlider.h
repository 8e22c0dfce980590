#ifndef RANGESLIDER_H
#define RANGESLIDER_H

#include <QColor>
#include <QRectF>
#include <QWidget>

// A horizontal slider with two square handles selecting a lower and an upper
// value within an integer range. The handles can be dragged; a click beside or
// between them moves the nearer value by a tenth of the range.
class RangeSlider : public QWidget
{
    Q_OBJECT

public:
    explicit RangeSlider(QWidget *parent = nullptr);

    QSize minimumSizeHint() const override;

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int lowerValue() const { return m_lowerValue; }
    int upperValue() const { return m_upperValue; }
    QColor selectionColor() const { return m_selectionColor; }

    void setRange(int minimum, int maximum);

    // Handle rectangles in widget coordinates.
    QRectF firstHandleRect() const;
    QRectF secondHandleRect() const;

signals:
    void lowerValueChanged(int value);
    void upperValueChanged(int value);
    void rangeChanged(int minimum, int maximum);

public slots:
    void setLowerValue(int value);
    void setUpperValue(int value);
    void setMinimum(int minimum);
    void setMaximum(int maximum);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void rangeUpdated();
    // Movable length of a handle: width minus margins and both handles.
    int validLength() const;
    // Position of `value` within the range, 0 .. 1 (0 for an empty range).
    float fraction(int value) const;
    QRectF barRect() const;
    QRectF selectionRect() const;

    int m_minimum = 1;
    int m_maximum = 3000;
    int m_lowerValue = 1;
    int m_upperValue = 2000;
    bool firstHandlePressed = false;
    bool secondHandlePressed = false;
    int m_interval = 2999;
    int dragDelta = 0;
    QColor enabledColor = QColor(30, 144, 255);
    QColor disabledColor = QColor(Qt::darkGray);
    QColor m_selectionColor = enabledColor;
};

#endif // RANGESLIDER_H
