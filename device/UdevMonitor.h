#ifndef UDEVMONITOR_H
#define UDEVMONITOR_H

#include <QObject>
#include <QString>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// Reports devices of one udev subsystem ("tty" for serial ports) that appear
// or disappear, by their kernel name ("ttyACM0"), which is the name
// QSerialPortInfo::portName() gives. Inactive (and silent) where udev is not
// available.
class UdevMonitor : public QObject
{
    Q_OBJECT

public:
    explicit UdevMonitor(const QString &subsystem = QStringLiteral("tty"), QObject *parent = nullptr);
    ~UdevMonitor() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void deviceAdded(const QString &name);
    void deviceRemoved(const QString &name);

private:
    void receive();

    struct udev *m_udev = nullptr;
    struct udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_notifier = nullptr;
};

#endif // UDEVMONITOR_H
