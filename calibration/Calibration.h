#ifndef CALIBRATION_H
#define CALIBRATION_H

#include <QWidget>

class TofDevice;

class Calibration : public QWidget
{
    Q_OBJECT

public:
    explicit Calibration(TofDevice *device, QWidget *parent = nullptr);
    ~Calibration() override;

private:
    TofDevice *m_device;
};

#endif // CALIBRATION_H
