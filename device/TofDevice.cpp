#include "device/TofDevice.h"

#include "device/PortDiscovery.h"
#include "device/PortRegistry.h"
#include "device/PortRegistryWatcher.h"

#include <QDebug>

#ifdef Q_OS_LINUX
#include "device/UdevMonitor.h"
#endif

#ifdef Q_OS_WIN
#include <windows.h>

#include <dbt.h>
#endif

namespace {

const QString NoPort = QStringLiteral("NULL");

} // namespace

TofDevice::TofDevice(QWidget *parent)
    : QWidget(parent)
{
    m_serialPort = new QSerialPort;
    m_portName = QString();
#ifdef Q_OS_WIN
    // The device-change broadcast reaches only widgets with a native window.
    createWinId();
#endif
    m_deviceType = NoDevice;
    m_portName = NoPort;

    connect(m_serialPort, &QSerialPort::errorOccurred, this, &TofDevice::serialPortError);

    // Watch before the first scan, so a port arriving during the scan is not missed.
    m_registryWatcher = new PortRegistryWatcher(PortRegistry::folderPath(), this);
    connect(m_registryWatcher, &PortRegistryWatcher::portAdded, this, &TofDevice::portArrived);
    connect(m_registryWatcher, &PortRegistryWatcher::portRemoved, this, &TofDevice::portRemoved);
#ifdef Q_OS_LINUX
    m_udevMonitor = new UdevMonitor(QStringLiteral("tty"), this);
    connect(m_udevMonitor, &UdevMonitor::deviceAdded, this, &TofDevice::portArrived);
    connect(m_udevMonitor, &UdevMonitor::deviceRemoved, this, &TofDevice::portRemoved);
#endif

    scanPorts();
    qDebug() << "tof device class init";
}

TofDevice::~TofDevice()
{
    delete m_serialPort;
    m_serialPort = nullptr;
    m_portName.clear();
}

void TofDevice::tryPort(const DiscoveredPort &port)
{
    qDebug() << "VID" << port.vendorIdentifier;
    qDebug() << "PID" << port.productIdentifier;
    if (port.deviceType == NoDevice)
        return;
    if (port.deviceType == KavrixM10)
        qDebug().noquote() << "serialPortInfo" << port.name;

    // Never retarget the port object while it holds a camera: a second match
    // fails to open just as the same port opened twice would.
    bool opened = false;
    if (!m_serialPort->isOpen()) {
        port.applyTo(m_serialPort);
        opened = m_serialPort->open(QIODevice::ReadWrite);
    }
    if (!opened) {
        qDebug() << (port.isBusy() ? "Port busy" : "Port cannot open");
        return;
    }
    // The type is announced before the name is stored: slots still see the old name.
    m_deviceType = port.deviceType;
    emit deviceTypeChanged(m_deviceType);
    m_portName = port.name;
    qDebug().noquote() << "Connected Port" << port.name;
}

void TofDevice::scanPorts()
{
    const QList<DiscoveredPort> ports = PortDiscovery::scan(m_registryWatcher->folder());
    for (const DiscoveredPort &port : ports)
        tryPort(port);
}

void TofDevice::handlePortRemoved()
{
    m_serialPort->close();
    m_portName = NoPort;
    if (m_deviceType == Bootloader || m_deviceType == KavrixM10 || m_deviceType == KavrixM20)
        emit disconnected(m_deviceType);
    if (m_deviceType == KavrixM10) {
        m_deviceType = KavrixM10Removed;
        emit deviceTypeChanged(m_deviceType);
    } else if (m_deviceType == KavrixM20) {
        m_deviceType = KavrixM20Removed;
        emit deviceTypeChanged(m_deviceType);
    }
    // The bootloader keeps type 1: the next arrival rescans and finds what it became.
}

void TofDevice::portArrived(const QString &name)
{
    qDebug().noquote() << "serial port arrival" << name;
    if (m_portName == NoPort)
        scanPorts();
}

void TofDevice::portRemoved(const QString &name)
{
    qDebug().noquote() << "serial port remove" << name;
    if (name == m_portName)
        handlePortRemoved();
}

void TofDevice::serialPortError(QSerialPort::SerialPortError error)
{
    // The device vanished under the open port (a flaky cable, a camera that
    // restarts): handle it as the removal the system will report later, which
    // then finds no open port of that name.
    if (m_linkLossPending || !m_serialPort->isOpen() || m_portName == NoPort)
        return;
    const bool lost = error == QSerialPort::ResourceError
        || (error == QSerialPort::ReadError && PortDiscovery::hungUp(m_serialPort));
    if (!lost)
        return;
    // Not inside QSerialPort's own notification: close the port from the event loop.
    m_linkLossPending = true;
    const QString name = m_portName;
    QMetaObject::invokeMethod(
        this,
        [this, name] {
            m_linkLossPending = false;
            if (m_serialPort->isOpen() && m_portName == name) {
                qDebug().noquote() << "serial port lost" << name;
                handlePortRemoved();
            }
        },
        Qt::QueuedConnection);
}

#ifdef Q_OS_WIN
bool TofDevice::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(result)
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message != WM_DEVICECHANGE)
        return false;
    const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(msg->lParam);
    switch (msg->wParam) {
    case DBT_DEVICEARRIVAL:
        if (header && header->dbch_devicetype == DBT_DEVTYP_PORT) {
            const auto *port = reinterpret_cast<const DEV_BROADCAST_PORT_W *>(header);
            portArrived(QString::fromWCharArray(port->dbcp_name));
        }
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        if (header && header->dbch_devicetype == DBT_DEVTYP_PORT) {
            const auto *port = reinterpret_cast<const DEV_BROADCAST_PORT_W *>(header);
            portRemoved(QString::fromWCharArray(port->dbcp_name));
        }
        break;
    case DBT_DEVICETYPESPECIFIC:
        qDebug() << "DBT_DEVICETYPESPECIFIC ";
        break;
    default:
        break;
    }
    return false;
}
#endif
