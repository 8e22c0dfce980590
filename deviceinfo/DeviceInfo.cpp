#include "deviceinfo/DeviceInfo.h"
#include "ui_DeviceInfo.h"
#include "views/WindowPlacement.h"

#include "device/Commands.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "deviceinfo/AppPaths.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>

DeviceInfo::DeviceInfo(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::DeviceInfo)
    , m_device(device)
    , receiveBuffer(deviceState().pixelCount)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // No place of its own: opens in the middle of the screen, clear of the main window.
    WindowPlacement::placeWhenShown(this, std::nullopt);
    deviceState().appDirPath = AppPaths::appDirPath();
    qDebug() << "applicationDirPath" << deviceState().appDirPath;
}

DeviceInfo::~DeviceInfo()
{
    disconnectReader();
    qDebug() << "destroy device info";
    delete ui;
}

void DeviceInfo::connectReader(Source source)
{
    disconnectReader();
    // Left-overs of an earlier, failed query must not be glued to this reply.
    receiveBuffer.setPixelCount(deviceState().pixelCount);
    receiveBuffer.clear();
    m_collecting = true;
    if (source == Source::Port && m_device) {
        // Nobody else reads the port now: what waits there came before the
        // query (a late answer to an earlier one) and must not pass for its reply.
        const QByteArray stale = m_device->serialPort()->readAll();
        if (!stale.isEmpty())
            qDebug() << "device info: dropped" << stale.size() << "bytes received before the query";
        m_connection
            = connect(m_device->serialPort(), &QSerialPort::readyRead, this, &DeviceInfo::slotReadData);
    }
}

void DeviceInfo::disconnectReader()
{
    if (m_connection)
        disconnect(m_connection);
    m_connection = {};
    m_collecting = false;
}

void DeviceInfo::sendQuery()
{
    if (m_device && m_device->serialPort()->isOpen())
        m_device->serialPort()->write(Commands::camera(Commands::GetDeviceInfo));
}

void DeviceInfo::slotReadData()
{
    if (m_device)
        takeBytes(m_device->serialPort()->readAll());
}

void DeviceInfo::takeBytes(const QByteArray &bytes)
{
    if (!m_collecting || bytes.isEmpty())
        return;
    receiveBuffer.setPixelCount(deviceState().pixelCount);
    if (receiveBuffer.append(bytes))
        applyReply(receiveBuffer.reply());
}

void DeviceInfo::applyReply(const DeviceInfoData &data)
{
    DeviceState &state = deviceState();
    DeviceInfoReply::applyTo(state, data);
    qDebug() << "Device ModFreq: " << state.modFreq;

    createWorkingDir();

    ui->label_machineID->setText(QStringLiteral("Machine ID:  %1").arg(state.machineID));
    ui->label_wafterID->setText(QStringLiteral("Wafter ID:  %1").arg(state.waferID));
    ui->label_chipID->setText(QStringLiteral("Chip ID:  %1").arg(state.chipID));
    ui->label_hardwareVer->setText(state.hardwareVersionText);
    ui->label_firmwareVer->setText(state.firmwareVersionText);
    ui->label_drnu_lut->setText(state.drnuLutAvailable == 1 ? QStringLiteral("DRNU LUT:  Available")
                                                            : QStringLiteral("DRNU LUT:  Not Available"));

    ui->doubleSpinBoxCameraFactor->setValue(state.cameraFactor);
    ui->doubleSpinBoxCameraCx->setValue(state.cameraCx);
    ui->doubleSpinBoxCameraCy->setValue(state.cameraCy);
    ui->doubleSpinBoxCameraFx->setValue(state.cameraFx);
    ui->doubleSpinBoxCameraFy->setValue(state.cameraFy);
}

bool DeviceInfo::createWorkingDir()
{
    // The main window reports the outcome from what is on disk.
    const QString path = deviceState().workingDir();
    if (QDir().mkpath(path))
        return true;
    qDebug() << "cannot create working dir" << path;
    return false;
}
