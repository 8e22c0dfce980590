#ifndef UPDATEFIRMWARE_H
#define UPDATEFIRMWARE_H

#include <QWidget>

class TofDevice;

class UpdateFirmware : public QWidget
{
    Q_OBJECT

public:
    explicit UpdateFirmware(TofDevice *device, QWidget *parent = nullptr);
    ~UpdateFirmware() override;

private:
    TofDevice *m_device;
};

#endif // UPDATEFIRMWARE_H
