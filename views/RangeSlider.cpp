#include "views/RangeSlider.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>
#include <limits>

namespace {
constexpr int HandleSide = 11;
constexpr int Margin = 1;
constexpr int BarHeight = 5;

int clampToInt(qint64 value)
{
    return int(qBound<qint64>(std::numeric_limits<int>::min(), value, std::numeric_limits<int>::max()));
}

// Doubles that left the int range (huge widths, empty ranges) must not reach an int conversion.
int truncToInt(double value)
{
    if (std::isnan(value))
        return 0;
    return int(
        qBound<double>(std::numeric_limits<int>::min(), std::trunc(value), std::numeric_limits<int>::max()));
}
} // namespace

RangeSlider::RangeSlider(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
}

QSize RangeSlider::minimumSizeHint() const
{
    return QSize(HandleSide * 2 + Margin * 2, HandleSide);
}

void RangeSlider::setRange(int minimum, int maximum)
{
    setMinimum(minimum);
    setMaximum(maximum);
}

int RangeSlider::validLength() const
{
    return width() - Margin * 2 - HandleSide * 2;
}

float RangeSlider::fraction(int value) const
{
    // With both ends equal there is nowhere to move; both handles rest at the left.
    if (m_interval == 0)
        return 0.0f;
    return float((double(value) - m_minimum) / m_interval);
}

QRectF RangeSlider::barRect() const
{
    return QRectF(Margin, (height() - BarHeight) / 2, width() - Margin * 2, BarHeight);
}

QRectF RangeSlider::firstHandleRect() const
{
    const int x = truncToInt(fraction(m_lowerValue) * validLength() + Margin);
    return QRectF(x, (height() - HandleSide) / 2, HandleSide, HandleSide);
}

QRectF RangeSlider::secondHandleRect() const
{
    const int x = truncToInt(fraction(m_upperValue) * validLength() + Margin + HandleSide);
    return QRectF(x, (height() - HandleSide) / 2, HandleSide, HandleSide);
}

QRectF RangeSlider::selectionRect() const
{
    QRectF selection = barRect();
    selection.setLeft(firstHandleRect().right() + 0.5);
    selection.setRight(secondHandleRect().left() - 0.5);
    return selection;
}

void RangeSlider::setLowerValue(int value)
{
    m_lowerValue = qBound(m_minimum, value, m_maximum);
    emit lowerValueChanged(m_lowerValue);
    update();
}

void RangeSlider::setUpperValue(int value)
{
    m_upperValue = qBound(m_minimum, value, m_maximum);
    emit upperValueChanged(m_upperValue);
    update();
}

void RangeSlider::setMinimum(int minimum)
{
    if (minimum <= m_maximum) {
        m_minimum = minimum;
    } else {
        m_minimum = m_maximum;
        m_maximum = minimum;
    }
    rangeUpdated();
}

void RangeSlider::setMaximum(int maximum)
{
    if (maximum >= m_minimum) {
        m_maximum = maximum;
    } else {
        m_maximum = m_minimum;
        m_minimum = maximum;
    }
    rangeUpdated();
}

void RangeSlider::rangeUpdated()
{
    // A range wider than int can hold is kept at the widest the handles can express.
    m_interval = clampToInt(qint64(m_maximum) - m_minimum);
    update();
    setLowerValue(m_minimum);
    setUpperValue(m_maximum);
    emit rangeChanged(m_minimum, m_maximum);
}

void RangeSlider::mousePressEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;

    const QPoint pos = event->pos();
    const QRectF first = firstHandleRect();
    const QRectF second = secondHandleRect();

    secondHandlePressed = second.contains(pos);
    firstHandlePressed = !secondHandlePressed && first.contains(pos);
    if (secondHandlePressed)
        dragDelta = pos.x() - (int(second.left()) + HandleSide / 2);
    else if (firstHandlePressed)
        dragDelta = pos.x() - (int(first.left()) + HandleSide / 2);

    if (pos.y() < 2 || pos.y() > height() - 2)
        return;

    const qint64 step = m_interval >= 10 ? m_interval / 10 : 1;
    const int x = pos.x();
    const int f = int(first.left());
    const int s = int(second.left());

    if (x < f) {
        setLowerValue(clampToInt(m_lowerValue - step));
    } else if (x > f + HandleSide && x < s) {
        // Move the value whose handle is nearer, never past the other one.
        if (x - (f + HandleSide) < (s - (f + HandleSide)) * 0.5) {
            const qint64 raised = m_lowerValue + step;
            setLowerValue(raised < m_upperValue ? int(raised) : m_upperValue);
        } else {
            const qint64 lowered = m_upperValue - step;
            setUpperValue(lowered > m_lowerValue ? int(lowered) : m_lowerValue);
        }
    } else if (x > s + HandleSide) {
        setUpperValue(clampToInt(m_upperValue + step));
    }
}

void RangeSlider::mouseMoveEvent(QMouseEvent *event)
{
    // Mouse tracking also delivers moves without a button; only drags count.
    if (!(event->buttons() & Qt::LeftButton))
        return;

    const int p = event->pos().x() - dragDelta;
    const int length = validLength();
    if (firstHandlePressed) {
        if (p + HandleSide / 2 <= secondHandleRect().left()) {
            const double position = length > 0 ? double(p - Margin - HandleSide / 2) / length : 0.0;
            setLowerValue(truncToInt(position * m_interval + m_minimum));
        } else {
            setLowerValue(m_upperValue);
        }
    } else if (secondHandlePressed) {
        if (p >= firstHandleRect().left() + HandleSide * 1.5) {
            const double position
                = length > 0 ? double(p - Margin - HandleSide - HandleSide / 2) / length : 0.0;
            setUpperValue(truncToInt(position * m_interval + m_minimum));
        } else {
            setUpperValue(m_lowerValue);
        }
    }
}

void RangeSlider::mouseReleaseEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
    firstHandlePressed = false;
    secondHandlePressed = false;
}

void RangeSlider::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);

    painter.setPen(QPen(Qt::gray, 0.8));
    painter.setBrush(QColor(208, 208, 208));
    painter.drawRoundedRect(barRect(), 1, 1);

    painter.setPen(QPen(Qt::darkGray, 0));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRoundedRect(firstHandleRect(), 2, 2);
    painter.drawRoundedRect(secondHandleRect(), 2, 2);

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(m_selectionColor);
    painter.drawRect(selectionRect());
}

void RangeSlider::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange) {
        m_selectionColor = isEnabled() ? enabledColor : disabledColor;
        update();
    }
    QWidget::changeEvent(event);
}
