#ifndef LENSINFO_H
#define LENSINFO_H

#include <QPointer>
#include <QWidget>

class TofDevice;

namespace Ui {
class LensInfo;
}

// Lets the user edit the five lens parameters, which the whole application
// then uses, and writes them into the camera.
class LensInfo : public QWidget
{
    Q_OBJECT

public:
    explicit LensInfo(TofDevice *device, QWidget *parent = nullptr);
    ~LensInfo() override;

private slots:
    void on_pushButtonSetLensParam_clicked();

private:
    Ui::LensInfo *ui;
    QPointer<TofDevice> m_device;
};

#endif // LENSINFO_H
