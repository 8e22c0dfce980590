#ifndef SHOWPOINT_H
#define SHOWPOINT_H

#include <QPoint>
#include <QString>
#include <QWidget>

namespace Ui {
class ShowPoint;
}

// The pixel inspector: holds one chosen pixel of the image view and shows its
// value for every frame, in the unit of the current frame type.
class ShowPoint : public QWidget
{
    Q_OBJECT

public:
    explicit ShowPoint(QWidget *parent = nullptr);
    ~ShowPoint() override;

    // True while the image view is to mark the chosen pixel.
    bool showLabel() const { return m_showLabel; }
    void setShowLabel(bool on) { m_showLabel = on; }

    // Puts x and y into the spin boxes; they clamp to the range.
    void setPoint(int x, int y);
    QPoint point() const;
    void setRange(int maxX, int maxY);
    QPoint maximum() const;

    void showValue(quint8 frameType, int value);
    QString valueText() const;

    // The read-out text for a frame type (0 amplitude, 1 depth, 2 grayscale,
    // 3 point cloud); a null string for other types, which leave the text as it is.
    static QString formatValue(quint8 frameType, int value);

signals:
    void pointChanged();

public slots:
    void pointPositionChanged();
    void checkBoxShowPointLabel_CheckChanged();
    void on_pushButtonSetCenter_clicked();

private:
    bool m_showLabel = false;
    Ui::ShowPoint *ui;
};

#endif // SHOWPOINT_H
