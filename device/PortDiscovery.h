#ifndef PORTDISCOVERY_H
#define PORTDISCOVERY_H

#include <QList>
#include <QString>

class QSerialPort;

// The serial ports that may be a camera: every system port that reports both a
// USB vendor and a product identifier, followed by the simulated cameras of the
// port registry (see PortRegistry), in the order the device link tries them.
// Used by the window's device link and by the command-line tool alike.
struct DiscoveredPort
{
    QString name; // port name as reported to the user
    QString location; // what to open: a system port name or an absolute tty path
    quint16 vendorIdentifier = 0;
    quint16 productIdentifier = 0;
    quint8 deviceType = 0; // 1 bootloader, 2 "Kavrix M10", 3 "Kavrix M20", 0 not ours
    bool simulated = false;

    // Whether another process holds the port open.
    bool isBusy() const;
    // Points `port` at this port (it must not be open).
    void applyTo(QSerialPort *port) const;
};

namespace PortDiscovery {

// All ports with both identifiers; deviceType tells which of them are ours.
QList<DiscoveredPort> scan(const QString &registryFolder);

// Only the camera and bootloader ports of scan().
QList<DiscoveredPort> cameraPorts(const QString &registryFolder);

// "Kavrix M10", "Kavrix M20", "Bootloader" or an empty text.
QString modelName(quint8 deviceType);

// Whether the device under an open port is gone: its tty reports a hang-up,
// so its reads return nothing and QSerialPort reports a read error on every
// turn of the event loop.
bool hungUp(const QSerialPort *port);

} // namespace PortDiscovery

#endif // PORTDISCOVERY_H
