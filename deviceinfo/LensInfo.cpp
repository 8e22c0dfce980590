#include "deviceinfo/LensInfo.h"
#include "ui_LensInfo.h"
#include "views/WindowPlacement.h"

#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "deviceinfo/LensPacket.h"

#include <QDebug>
#include <QSerialPort>

LensInfo::LensInfo(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::LensInfo)
    , m_device(device)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // No place of its own: opens in the middle of the screen, clear of the main window.
    WindowPlacement::placeWhenShown(this, std::nullopt);
    const DeviceState &state = deviceState();
    ui->doubleSpinBoxCameraFactor->setValue(state.cameraFactor);
    ui->doubleSpinBoxCameraCx->setValue(state.cameraCx);
    ui->doubleSpinBoxCameraCy->setValue(state.cameraCy);
    ui->doubleSpinBoxCameraFx->setValue(state.cameraFx);
    ui->doubleSpinBoxCameraFy->setValue(state.cameraFy);
}

LensInfo::~LensInfo()
{
    qDebug() << "destroy lens info";
    delete ui;
}

void LensInfo::on_pushButtonSetLensParam_clicked()
{
    // The application uses the new values from now on, whatever the camera does with them.
    DeviceState &state = deviceState();
    state.cameraFactor = ui->doubleSpinBoxCameraFactor->value();
    state.cameraCx = ui->doubleSpinBoxCameraCx->value();
    state.cameraCy = ui->doubleSpinBoxCameraCy->value();
    state.cameraFx = ui->doubleSpinBoxCameraFx->value();
    state.cameraFy = ui->doubleSpinBoxCameraFy->value();

    LensPacket::Values lens;
    lens.cameraFactor = state.cameraFactor;
    lens.cameraCx = state.cameraCx;
    lens.cameraCy = state.cameraCy;
    lens.cameraFx = state.cameraFx;
    lens.cameraFy = state.cameraFy;
    if (m_device && m_device->serialPort()->isOpen())
        m_device->serialPort()->write(LensPacket::build(lens));
}
