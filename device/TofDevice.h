#ifndef TOFDEVICE_H
#define TOFDEVICE_H

#include <QSerialPort>
#include <QString>
#include <QWidget>

struct DiscoveredPort;
class PortRegistryWatcher;
class UdevMonitor;

// Owns the one serial link to the camera: finds the port by USB VID/PID, opens
// it, follows plug and unplug, and announces every device type it sets.
//
// Port arrivals and removals come from the Windows device-change broadcast
// (nativeEvent), from udev on Linux, and from the port registry of simulated
// cameras (PortRegistry). All lead to the same three actions: rescan while no
// port is open, removal handling for the open port's name, nothing otherwise.
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
    // The open camera port's name, or "NULL" while none is open.
    QString portName() const { return m_portName; }

signals:
    void deviceTypeChanged(quint8 type);
    // The open port of a device of this type (1 to 3) was removed or lost.
    void disconnected(quint8 type);

protected:
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;
#endif

private:
    void scanPorts();
    void handlePortRemoved();
    void portArrived(const QString &name);
    void portRemoved(const QString &name);
    void serialPortError(QSerialPort::SerialPortError error);
    void tryPort(const DiscoveredPort &port);

    QSerialPort *m_serialPort = nullptr;
    QString m_portName;
    quint8 m_deviceType = NoDevice;
    bool m_linkLossPending = false;
    PortRegistryWatcher *m_registryWatcher = nullptr;
    UdevMonitor *m_udevMonitor = nullptr;
};

#endif // TOFDEVICE_H
