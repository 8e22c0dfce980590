#include "device/PortDiscovery.h"

#include "device/PortRegistry.h"
#include "device/SerialPortLock.h"
#include "device/UsbIds.h"

#include <QSerialPort>
#include <QSerialPortInfo>

#ifdef Q_OS_LINUX
#include <poll.h>
#endif

bool DiscoveredPort::isBusy() const
{
    if (simulated)
        return SerialPortLock::isBusy(location);
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return QSerialPortInfo(location).isBusy();
    QT_WARNING_POP
}

void DiscoveredPort::applyTo(QSerialPort *port) const
{
    if (simulated)
        port->setPortName(location);
    else
        port->setPort(QSerialPortInfo(location));
}

namespace PortDiscovery {

QList<DiscoveredPort> scan(const QString &registryFolder)
{
    QList<DiscoveredPort> ports;
    const auto add = [&ports](const QString &name, const QString &location, bool hasVendor, quint16 vendor,
                         bool hasProduct, quint16 product, bool simulated) {
        if (!hasVendor || !hasProduct)
            return;
        DiscoveredPort port;
        port.name = name;
        port.location = location;
        port.vendorIdentifier = vendor;
        port.productIdentifier = product;
        port.deviceType = UsbIds::classify(true, vendor, true, product);
        port.simulated = simulated;
        ports.append(port);
    };
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        add(info.portName(), info.portName(), info.hasVendorIdentifier(), info.vendorIdentifier(),
            info.hasProductIdentifier(), info.productIdentifier(), false);
    }
    // Simulated cameras come after the system's own ports.
    const QList<PortRegistry::Entry> entries = PortRegistry::readEntries(registryFolder);
    for (const PortRegistry::Entry &entry : entries) {
        add(entry.name, entry.device, entry.hasVendorIdentifier, entry.vendorIdentifier,
            entry.hasProductIdentifier, entry.productIdentifier, true);
    }
    return ports;
}

QList<DiscoveredPort> cameraPorts(const QString &registryFolder)
{
    QList<DiscoveredPort> cameras;
    const QList<DiscoveredPort> ports = scan(registryFolder);
    for (const DiscoveredPort &port : ports) {
        if (port.deviceType != 0)
            cameras.append(port);
    }
    return cameras;
}

QString modelName(quint8 deviceType)
{
    switch (deviceType) {
    case 1:
        return QStringLiteral("Bootloader");
    case 2:
        return QStringLiteral("Kavrix M10");
    case 3:
        return QStringLiteral("Kavrix M20");
    default:
        return QString();
    }
}

bool hungUp(const QSerialPort *port)
{
#ifdef Q_OS_LINUX
    pollfd descriptor = { int(port->handle()), POLLIN, 0 };
    return ::poll(&descriptor, 1, 0) > 0 && (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    Q_UNUSED(port)
    return false;
#endif
}

} // namespace PortDiscovery
