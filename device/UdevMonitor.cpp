#include "device/UdevMonitor.h"

#include <QDebug>
#include <QSocketNotifier>

#include <libudev.h>

UdevMonitor::UdevMonitor(const QString &subsystem, QObject *parent)
    : QObject(parent)
{
    m_udev = udev_new();
    if (!m_udev)
        return;
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor
        || udev_monitor_filter_add_match_subsystem_devtype(
               m_monitor, subsystem.toLatin1().constData(), nullptr)
            < 0
        || udev_monitor_enable_receiving(m_monitor) < 0) {
        qDebug() << "udev monitor unavailable";
        return;
    }
    const int fd = udev_monitor_get_fd(m_monitor);
    if (fd < 0)
        return;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UdevMonitor::receive);
}

UdevMonitor::~UdevMonitor()
{
    delete m_notifier;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

void UdevMonitor::receive()
{
    // One notification may stand for several queued events; take them all.
    while (struct udev_device *device = udev_monitor_receive_device(m_monitor)) {
        const char *action = udev_device_get_action(device);
        const char *sysname = udev_device_get_sysname(device);
        if (action && sysname) {
            const QString name = QString::fromLocal8Bit(sysname);
            if (qstrcmp(action, "add") == 0)
                emit deviceAdded(name);
            else if (qstrcmp(action, "remove") == 0)
                emit deviceRemoved(name);
        }
        udev_device_unref(device);
    }
}
