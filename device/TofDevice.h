#ifndef TOFDEVICE_H
#define TOFDEVICE_H

#include <QString>
#include <QWidget>

class QSerialPort;

// Owns the one serial link to the camera: finds the port by USB VID/PID, opens
// it, follows plug and unplug, and announces every device type it sets.
class TofDevice : public QWidget
{
    Q_OBJECT

public:
    enum DeviceType : quint8 {
        NoDevice = 0,
        Bootloader = 1,
        KavrixM10 = 2,
        KavrixM20 = 3,
        KavrixM10Removed = 11,
        KavrixM20Removed = 12,
    };

    explicit TofDevice(QWidget *parent = nullptr);
    ~TofDevice() override;

    QSerialPort *serialPort() const { return m_serialPort; }
    quint8 deviceType() const { return m_deviceType; }
    // Only the main window writes the type (back to 0 after a removal); no signal.
    void setDeviceType(quint8 type) { m_deviceType = type; }
    QString portName() const { return m_portName; }

signals:
    void deviceTypeChanged(quint8 type);

private:
    QSerialPort *m_serialPort = nullptr;
    QString m_portName;
    quint8 m_deviceType = NoDevice;
};

#endif // TOFDEVICE_H
