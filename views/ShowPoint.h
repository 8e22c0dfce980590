#ifndef SHOWPOINT_H
#define SHOWPOINT_H

#include <QPoint>
#include <QWidget>

// The pixel inspector: holds one chosen pixel and shows its value per frame.
class ShowPoint : public QWidget
{
    Q_OBJECT

public:
    explicit ShowPoint(QWidget *parent = nullptr);
    ~ShowPoint() override;

    bool showLabel() const { return m_showLabel; }
    void setShowLabel(bool on) { m_showLabel = on; }
    void setPoint(int x, int y);
    QPoint point() const;
    void setRange(int maxX, int maxY);
    void showValue(quint8 frameType, int value);

signals:
    void pointChanged();

private:
    bool m_showLabel = false;
};

#endif // SHOWPOINT_H
