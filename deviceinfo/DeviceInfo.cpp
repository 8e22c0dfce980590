#include "deviceinfo/DeviceInfo.h"
#include "ui_DeviceInfo.h"

#include "app/DeviceState.h"
#include "device/Commands.h"
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
    deviceState().appDirPath = AppPaths::appDirPath();
    qDebug() << "applicationDirPath" << deviceState().appDirPath;
}

DeviceInfo::~DeviceInfo()
{
    disconnectReader();
    qDebug() << "destroy device info";
    delete ui;
}

void DeviceInfo::connectReader()
{
    if (!m_device || isReaderConnected())
        return;
    // Left-overs of an earlier, failed query must not be glued to this reply.
    receiveBuffer.setPixelCount(deviceState().pixelCount);
    receiveBuffer.clear();
    m_connection = connect(m_device->serialPort(), &QSerialPort::readyRead, this, &DeviceInfo::slotReadData);
}

void DeviceInfo::disconnectReader()
{
    if (m_connection)
        disconnect(m_connection);
    m_connection = {};
}

void DeviceInfo::sendQuery()
{
    if (m_device)
        m_device->serialPort()->write(Commands::camera(Commands::GetDeviceInfo));
}

void DeviceInfo::slotReadData()
{
    if (!m_device)
        return;
    const QByteArray chunk = m_device->serialPort()->readAll();
    if (chunk.isEmpty())
        return;
    receiveBuffer.setPixelCount(deviceState().pixelCount);
    if (receiveBuffer.append(chunk))
        applyReply(receiveBuffer.reply());
}

bool DeviceInfo::takeBlock(const QByteArray &block)
{
    if (!isReaderConnected())
        return false;
    const std::optional<DeviceInfoData> data = DeviceInfoReply::decodeBlock(block, deviceState().pixelCount);
    if (!data)
        return false;
    applyReply(*data);
    return true;
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

void DeviceInfo::createWorkingDir()
{
    const QString path = deviceState().workingDir();
    m_workingDirReady = false;
    m_workingDirError.clear();
    if (!QDir().mkpath(path)) {
        m_workingDirError = QStringLiteral("Working dir could not be created: ") + path;
    } else if (!QFileInfo(path).isWritable()) {
        m_workingDirError = QStringLiteral("Working dir is not writable: ") + path;
    } else {
        m_workingDirReady = true;
    }
    if (!m_workingDirReady)
        qDebug() << m_workingDirError;
}
