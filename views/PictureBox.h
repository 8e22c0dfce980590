#ifndef PICTUREBOX_H
#define PICTUREBOX_H

#include <QBrush>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include "views/PictureGeometry.h"

class ShowPoint;

// Shows the colour image of the current frame with its legend, mirrors it,
// marks the selected pixel and reads out that pixel's value for the inspector.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    explicit PictureBox(QWidget *parent = nullptr);
    ~PictureBox() override;

    // 2 depth (with legend), 5 amplitude (with legend), 6 grayscale.
    void setDisplayMode(int mode);
    int displayMode() const { return m_mode; }
    void setFlipHorizontal(bool on) { m_flipHorizontal = on; }
    void setFlipVertical(bool on) { m_flipVertical = on; }
    bool flipHorizontal() const { return m_flipHorizontal; }
    bool flipVertical() const { return m_flipVertical; }
    ShowPoint *inspector() const { return m_inspector; }

    // Hands the value of the selected pixel of a frame of imageWidth x
    // imageHeight values to the inspector.
    void updatePointValue(quint8 frameMode, const quint16 *frame, int distanceOffset);

    double scale() const { return m_scale; }
    QPoint offset() const { return QPoint(m_offsetX, m_offsetY); }
    QPoint point() const { return QPoint(m_pointX, m_pointY); }
    const QPixmap &pixmap() const { return m_pixmap; }

public slots:
    bool setImage(QImage &image, double scale = 1.0);
    void setBackground(QBrush brush);
    void setPointLabel();

signals:
    void mousePressed();
    void imageResized();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    PictureGeometry::Fit currentFit() const;

    ShowPoint *m_inspector = nullptr;
    QPixmap m_pixmap;
    double m_scale = 1.0;
    int m_mode = 2;
    QBrush m_background = QBrush(Qt::white);
    int m_offsetX = 0;
    int m_offsetY = 0;
    int m_pointX = 0;
    int m_pointY = 0;
    bool m_flipHorizontal = false;
    bool m_flipVertical = false;
};

#endif // PICTUREBOX_H
