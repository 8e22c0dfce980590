#ifndef PICTUREBOX_H
#define PICTUREBOX_H

#include <QBrush>
#include <QImage>
#include <QWidget>

class ShowPoint;

// Shows the colour image of the current frame with its legend, mirrors it,
// marks the selected pixel and reads out that pixel's value for the inspector.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    explicit PictureBox(QWidget *parent = nullptr);
    ~PictureBox() override;

    void setDisplayMode(int mode);
    int displayMode() const { return m_mode; }
    void setFlipHorizontal(bool on) { m_flipHorizontal = on; }
    void setFlipVertical(bool on) { m_flipVertical = on; }
    ShowPoint *inspector() const { return m_inspector; }
    void updatePointValue(quint8 frameMode, const quint16 *frame, int distanceOffset);

public slots:
    bool setImage(QImage &image, double scale = 1.0);
    void setBackground(QBrush brush);
    void setPointLabel();

signals:
    void mousePressed();
    void imageResized();

private:
    ShowPoint *m_inspector = nullptr;
    int m_mode = 2;
    bool m_flipHorizontal = false;
    bool m_flipVertical = false;
};

#endif // PICTUREBOX_H
