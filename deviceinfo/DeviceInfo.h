#ifndef DEVICEINFO_H
#define DEVICEINFO_H

#include <QWidget>

class TofDevice;

class DeviceInfo : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceInfo(TofDevice *device, QWidget *parent = nullptr);
    ~DeviceInfo() override;

private:
    TofDevice *m_device;
};

#endif // DEVICEINFO_H
