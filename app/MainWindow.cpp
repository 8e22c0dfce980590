#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "calibration/Calibration.h"
#include "check/CheckBoard.h"
#include "device/BusyWait.h"
#include "device/Commands.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "deviceinfo/DeviceInfo.h"
#include "deviceinfo/DeviceInfoReply.h"
#include "deviceinfo/LensInfo.h"
#include "firmware/UpdateFirmware.h"
#include "frames/DepthFilter.h"
#include "frames/FrameColorizer.h"
#include "frames/FrameFormat.h"
#include "frames/ImageColorizer.h"
#include "views/PictureBox.h"
#include "views/RangeSlider.h"
#include "views/ShowPoint.h"
#include "views/WidgetPointCloud.h"
#include "views/WindowPlacement.h"

#include <QDebug>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLockFile>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSerialPort>
#include <QStandardPaths>
#include <QStatusBar>
#include <QUrl>

namespace {

struct SensorGeometry
{
    int width;
    int height;
    int filterMode;
    int maximumIntegrationTime;
};

SensorGeometry geometryFor(quint8 type)
{
    if (type == TofDevice::KavrixM10)
        return { 160, 60, 0, 4000 };
    return { 320, 240, 3, 5000 };
}

// Where "Check Repository" points. Deliberately free of credentials; users and
// sites point it at their own server with QUARVEL_REPOSITORY_URL.
QUrl repositoryUrl()
{
    const QByteArray fromEnvironment = qgetenv("QUARVEL_REPOSITORY_URL");
    if (!fromEnvironment.isEmpty())
        return QUrl::fromUserInput(QString::fromLocal8Bit(fromEnvironment));
    return QUrl(QStringLiteral("ftp://firmware.kavrix.example/quarvel/"));
}

// The windows of other running instances cannot be seen from here, but their
// number can: each instance holds the lowest numbered lock that was free when
// it started. Returns that number.
int claimInstanceSlot(std::unique_ptr<QLockFile> *held)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        return 0;
    for (int slot = 0; slot < 16; ++slot) {
        auto lock = std::make_unique<QLockFile>(folder + QStringLiteral("/quarvel-window-%1.lock").arg(slot));
        // An instance that died leaves a lock whose process is gone: free again.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            *held = std::move(lock);
            return slot;
        }
    }
    return 0;
}

constexpr int StatusUpdateMs = 250;

} // namespace

MainWindow::MainWindow(TofDevice *device, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , device(device)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Quarvel V1.2.1"));

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.width() / 5, available.height() / 5);
        WindowPlacement::placeWhenShown(this, pos(), {}, claimInstanceSlot(&instanceLock));
    }
    setFixedSize(size());

    // Settings go to the camera when the user has finished typing (Return,
    // leaving the field), the arrows or the wheel: never one per keystroke.
    for (QAbstractSpinBox *spinBox : findChildren<QAbstractSpinBox *>())
        spinBox->setKeyboardTracking(false);

    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("labelStatus"));
    statusBar()->addWidget(statusLabel, 1);
    statusClock.start();
    statusTimer.setInterval(StatusUpdateMs);
    connect(&statusTimer, &QTimer::timeout, this, &MainWindow::updateStatusLine);
    statusTimer.start();

    rangeSlider = new RangeSlider(this);
    rangeSlider->setGeometry(10, 390, 295, 30);
    rangeSlider->setRange(0, 8000);
    rangeSlider->hide();

    deviceInitialize(device->deviceType());

    colorizer = new ImageColorizer;
    colorizer->setRange(0, 10000);
    frameColorizer = std::make_unique<FrameColorizer>(colorizer);

    deviceInfo = new DeviceInfo(device);

    buildMenus();

    ui->comboBoxFrameType->addItems({ QStringLiteral("Amplitude"), QStringLiteral("Depth"),
        QStringLiteral("Grayscale"), QStringLiteral("PointCloud") });
    ui->comboBoxFrameType->setCurrentIndex(1);
    ui->comboBoxKalmanFilter->addItems({ QStringLiteral("Disabled"), QStringLiteral("Simple"),
        QStringLiteral("Normal"), QStringLiteral("Complex") });
    // A camera found at start-up has already chosen its filter mode; the combo
    // box must show the mode in use, not "Disabled".
    ui->comboBoxKalmanFilter->setCurrentIndex(depthFilter ? depthFilter->mode() : 0);

    // Connected last, so that filling the widgets above sends no command.
    connect(
        ui->spinBoxTime, QOverload<int>::of(&QSpinBox::valueChanged), this, &MainWindow::setIntegrationTime);
    connect(ui->spinBoxHDR_HighTime, QOverload<int>::of(&QSpinBox::valueChanged), this,
        &MainWindow::setHDR2ndIntegrationTime);
    connect(ui->spinBoxAmplitude, QOverload<int>::of(&QSpinBox::valueChanged), this,
        &MainWindow::setMinAmplitude);
    connect(ui->spinBoxDistanceOffset, QOverload<int>::of(&QSpinBox::valueChanged), this,
        &MainWindow::setDistOffset);
    connect(ui->comboBoxFrameType, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        &MainWindow::frameTypeSelect);
    connect(ui->checkBoxDRNU_LUT, &QCheckBox::stateChanged, this, &MainWindow::checkBoxDRNU_LUT_CheckChanged);
    connect(ui->checkBoxHDR, &QCheckBox::stateChanged, this, &MainWindow::checkBoxHDR_CheckChanged);
    connect(ui->checkBoxHorizontalFlip, &QCheckBox::stateChanged, this,
        &MainWindow::checkBoxHorizontalFlip_CheckChanged);
    connect(ui->checkBoxVerticalFlip, &QCheckBox::stateChanged, this,
        &MainWindow::checkBoxVerticalFlip_CheckChanged);
    connect(device, &TofDevice::deviceTypeChanged, this, &MainWindow::deviceInitialize);
    connect(device, &TofDevice::disconnected, this, [this](quint8 type) {
        appendInfo(type == TofDevice::Bootloader ? QStringLiteral("bootloader disconnected")
                : type == TofDevice::KavrixM10   ? QStringLiteral("Kavrix M10 disconnected")
                                                 : QStringLiteral("Kavrix M20 disconnected"));
    });
    connect(ui->comboBoxKalmanFilter, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        &MainWindow::filterTypeSelect);
    connect(
        ui->checkBoxShowPoint, &QCheckBox::stateChanged, this, &MainWindow::checkBoxShowPoint_CheckChanged);
    updateStatusLine();
}

MainWindow::~MainWindow()
{
    // No frame is handed to half-destroyed views during the goodbye wait.
    disconnectFrameReader();
    sendCommand(Commands::HostExit);
    if (QSerialPort *port = device->serialPort(); port->isOpen())
        port->flush();
    busyWait(100);

    // Nothing else owns these; freeing them here keeps teardown leak-free.
    delete pictureWindow;
    delete pointCloudWindow;
    delete checkBoardWindow;
    delete deviceInfo;
    delete depthFilter;
    delete colorizer;
    delete ui;
}

PictureBox *MainWindow::pictureBox() const
{
    return pictureWindow;
}

WidgetPointCloud *MainWindow::pointCloud() const
{
    return pointCloudWindow;
}

QString MainWindow::statusLine() const
{
    return statusLabel->text();
}

StreamStatus::Counters MainWindow::streamCounters() const
{
    return { framesShown, frameFramer.dropCount(), frameFramer.bytesReceived() };
}

void MainWindow::updateStatusLine()
{
    const bool streaming = deviceState().isStreaming == 1;
    const qint64 now = statusClock.elapsed();
    if (streaming && !statusStreaming)
        streamStatus.start(now, streamCounters());
    statusStreaming = streaming;
    if (streaming) {
        streamStatus.sample(now, streamCounters());
        statusLabel->setText(streamStatus.streamingText());
        return;
    }
    QSerialPort *port = device ? device->serialPort() : nullptr;
    statusLabel->setText(StreamStatus::idleText(
        ui->label_Device->text(), port && port->isOpen() ? port->portName() : QString()));
}

void MainWindow::buildMenus()
{
    QMenu *updateMenu = menuBar()->addMenu(QStringLiteral("Update"));
    connect(updateMenu->addAction(QStringLiteral("Update Firmware")), &QAction::triggered, this,
        &MainWindow::slotUpdateFirmware);
    connect(updateMenu->addAction(QStringLiteral("Check Repository")), &QAction::triggered, this,
        &MainWindow::slotCheckRepository);

    QMenu *calibrationMenu = menuBar()->addMenu(QStringLiteral("Calibration"));
    connect(calibrationMenu->addAction(QStringLiteral("DRNU Calibration")), &QAction::triggered, this,
        &MainWindow::slotDRNU_Calibration);
    connect(calibrationMenu->addAction(QStringLiteral("Lens Param")), &QAction::triggered, this,
        &MainWindow::slotLensInfo);

    checkMenu = menuBar()->addMenu(QStringLiteral("Check"));
    connect(checkMenu->addAction(QStringLiteral("Check Board")), &QAction::triggered, this,
        &MainWindow::showCheckBoard);
    checkMenu->menuAction()->setEnabled(false);
}

void MainWindow::sendCommand(quint8 code)
{
    // Without a camera there is nobody to tell; writes are fire-and-forget anyway.
    if (QSerialPort *port = device->serialPort(); port->isOpen())
        port->write(Commands::camera(code));
}

void MainWindow::sendParameter(char prefix, int value)
{
    if (QSerialPort *port = device->serialPort(); port->isOpen())
        port->write(Commands::parameter(prefix, value));
}

void MainWindow::appendInfo(const QString &line)
{
    ui->textEditInfo->append(line);
}

void MainWindow::connectFrameReader()
{
    connect(
        device->serialPort(), &QSerialPort::readyRead, this, &MainWindow::slotReadData, Qt::UniqueConnection);
}

void MainWindow::disconnectFrameReader()
{
    disconnect(device->serialPort(), &QSerialPort::readyRead, this, &MainWindow::slotReadData);
}

void MainWindow::hidePictureWindow()
{
    if (!pictureWindow)
        return;
    pictureWindow->hide();
    pictureWindow->inspector()->hide();
}

void MainWindow::setStreamingControlsEnabled(bool enabled)
{
    ui->spinBoxTime->setEnabled(enabled);
    ui->spinBoxAmplitude->setEnabled(enabled);
    ui->pushButtonLogData->setEnabled(enabled);
    ui->comboBoxFrameType->setEnabled(enabled);
    ui->checkBoxDRNU_LUT->setEnabled(enabled && deviceState().drnuLutAvailable != 0);
    ui->checkBoxHDR->setEnabled(enabled);
    ui->checkBoxHorizontalFlip->setEnabled(enabled);
    ui->checkBoxVerticalFlip->setEnabled(enabled);
    ui->comboBoxKalmanFilter->setEnabled(enabled);
    ui->checkBoxShowPoint->setEnabled(enabled);
    ui->spinBoxDistanceOffset->setEnabled(enabled);
}

void MainWindow::on_pushButtonStart_clicked()
{
    DeviceState &state = deviceState();
    if (state.isStreaming == 0) {
        connectFrameReader();
        state.isStreaming = 1;
        sendCommand(Commands::StartStreaming);
        ui->pushButtonStart->setText(QStringLiteral("stop"));
        appendInfo(QStringLiteral("Start streaming"));
        // The point cloud frame type shows its own window instead of the picture.
        if (frameMode == 3) {
            if (pointCloudWindow)
                pointCloudWindow->show();
        } else if (pictureWindow) {
            pictureWindow->show();
        }
        setStreamingControlsEnabled(true);
        checkBoxShowPoint_CheckChanged();
    } else {
        state.isStreaming = 0;
        sendCommand(Commands::StopStreaming);
        ui->pushButtonStart->setText(QStringLiteral("start"));
        appendInfo(QStringLiteral("Stop streaming"));
        hidePictureWindow();
        setStreamingControlsEnabled(false);
        disconnectFrameReader();
    }
}

void MainWindow::on_pushButtonLogData_clicked()
{
    // The files are written when the next accepted frame arrives; a folder
    // that cannot take them is reported now and leaves nothing pending.
    const FrameLogger::RequestResult request = frameLogger.request(deviceState().workingDir());
    for (const QString &line : request.messages)
        appendInfo(line);
}

void MainWindow::logFrame(const quint16 *rawValues, int count, quint8 mode, const QImage &image)
{
    if (!frameLogger.isPending())
        return;
    const DeviceState &state = deviceState();
    const FrameLogResult result = frameLogger.record(rawValues, count, state.imageWidth, state.imageHeight,
        mode, image, LensParameters::fromDeviceState());
    for (const QString &line : result.messages())
        appendInfo(line);
}

void MainWindow::on_pushButtonGetInfo_clicked()
{
    getDeviceInfo();
}

void MainWindow::slotUpdateFirmware()
{
    // Two firmware windows would both read the port and steal each other's
    // replies: bring the open one forward instead, also when the menu is
    // chosen again during the wait below.
    if (openingFirmwareWindow)
        return;
    if (updateFirmwareWindow) {
        updateFirmwareWindow->show();
        updateFirmwareWindow->raise();
        updateFirmwareWindow->activateWindow();
        return;
    }

    sendCommand(Commands::PrepareFirmwareUpdate);
    // The camera re-enumerates as its bootloader meanwhile; the unplug and
    // arrival handling run inside this wait, and so may our own destruction.
    QPointer<MainWindow> self(this);
    openingFirmwareWindow = true;
    busyWait(1000);
    if (!self)
        return;
    openingFirmwareWindow = false;
    updateFirmwareWindow = new UpdateFirmware(device);
    updateFirmwareWindow->connectReader();
    updateFirmwareWindow->show();
}

void MainWindow::checkBoxVerticalFlip_CheckChanged()
{
    const bool on = ui->checkBoxVerticalFlip->isChecked();
    if (pictureWindow)
        pictureWindow->setFlipVertical(on);
    appendInfo(on ? QStringLiteral("Image verticalFlip flip enabled")
                  : QStringLiteral("Image verticalFlip flip disabled"));
}

void MainWindow::checkBoxHDR_CheckChanged()
{
    if (ui->checkBoxHDR->isChecked()) {
        hdrEnabled = true;
        sendCommand(Commands::HdrOn);
        appendInfo(QStringLiteral("HDR enabled"));
        ui->spinBoxHDR_HighTime->setEnabled(true);
        ui->spinBoxTime->setMaximum(2000);
        ui->comboBoxFrameType->setEnabled(false);
        ui->spinBoxTime->setValue(300);
        setIntegrationTime();
    } else {
        hdrEnabled = false;
        sendCommand(Commands::HdrOff);
        appendInfo(QStringLiteral("HDR disabled"));
        ui->spinBoxHDR_HighTime->setEnabled(false);
        ui->spinBoxTime->setMaximum(maximumIntegrationTime);
        ui->comboBoxFrameType->setEnabled(true);
    }
}

void MainWindow::checkBoxDRNU_LUT_CheckChanged()
{
    if (ui->checkBoxDRNU_LUT->isChecked()) {
        sendCommand(Commands::DrnuLutOn);
        appendInfo(QStringLiteral("DRNU LUT enabled"));
    } else {
        sendCommand(Commands::DrnuLutOff);
        appendInfo(QStringLiteral("DRNU LUT disabled"));
    }
}

void MainWindow::checkBoxHorizontalFlip_CheckChanged()
{
    const bool on = ui->checkBoxHorizontalFlip->isChecked();
    if (pictureWindow)
        pictureWindow->setFlipHorizontal(on);
    appendInfo(on ? QStringLiteral("Image horizontal flip enabled")
                  : QStringLiteral("Image horizontal flip disabled"));
}

void MainWindow::slotReadData()
{
    // A wait inside a frame's hand-over can run this slot again; the outer
    // call keeps reading until the port is empty.
    if (readingFrames)
        return;
    QPointer<QSerialPort> port = device ? device->serialPort() : nullptr;
    if (!port)
        return;
    QPointer<MainWindow> self(this);
    readingFrames = true;
    if (readChunk.isEmpty())
        readChunk.resize(65536);

    // Pieces of bounded size keep the framer's buffer within a few frames
    // however much has piled up in the port.
    for (;;) {
        if (!port || !port->isOpen())
            break;
        const qint64 count = port->read(readChunk.data(), readChunk.size());
        if (count <= 0)
            break;
        const DeviceState &state = deviceState();
        if (!state.hasFrame()) {
            // No camera geometry (removed meanwhile): nothing to cut frames for.
            frameFramer.reset();
            continue;
        }
        frameFramer.setFrameLength(state.frameDataBytes + state.frameTrailerBytes);
        frameFramer.append(readChunk.constData(), int(count));
        // Every complete frame, in order, before the next read.
        FrameFramer::Frame frame;
        while (frameFramer.nextFrame(&frame)) {
            processFrame(frame.data, frame.size);
            if (!self)
                return;
        }
    }
    readingFrames = false;
}

void MainWindow::processFrame(const char *frame, int size)
{
    DeviceState &state = deviceState();
    const int pixelCount = state.pixelCount;
    // A camera swapped inside a wait leaves frames of the old geometry behind.
    if (size != FrameFormat::frameBytes(pixelCount) || state.frameBuffer.size() != pixelCount)
        return;

    if (frameClock.isValid())
        qDebug() << 1000.0 / double(frameClock.restart()) << "FPS";
    else
        frameClock.start();

    ui->lineEditTemperature->setText(
        FrameFormat::temperatureText(FrameFormat::temperatureRaw(frame, pixelCount)));

    state.frameStatus = FrameFormat::status(frame, pixelCount);
    if (state.frameStatus == FrameFormat::StatusHidden)
        return;
    ++framesShown;

    // Slots run from here on may change the mode or delete windows: work with
    // this frame's mode and re-check every pointer after each call out.
    const quint8 mode = frameMode;
    QImage image(state.imageWidth, state.imageHeight, QImage::Format_RGB888);
    frameColorizer->decode(
        frame, state.imageWidth, state.imageHeight, mode, state.frameBuffer.data(), &image);

    // The log records the values as received, before the depth filter.
    const bool logThis = frameLogger.isPending();
    if (logThis)
        rawValues = state.frameBuffer;

    QPointer<MainWindow> self(this);
    if (mode == 3) {
        if (pointCloudWindow)
            pointCloudWindow->updatePointCloud();
    } else {
        if (pictureWindow)
            pictureWindow->setImage(image, 1.0);
        if (!self)
            return;
        // The image shows the unfiltered values; frameBuffer readers from here on see filtered ones.
        if (mode == 1 && depthFilter && depthFilter->pixelCount() == state.frameBuffer.size())
            depthFilter->filterFrame(state.frameBuffer.data());
    }
    if (!self)
        return;

    emit pictureReady(mode);
    if (!self)
        return;

    if (pictureWindow && state.frameBuffer.size() == pixelCount)
        pictureWindow->updatePointValue(
            mode, state.frameBuffer.constData(), ui->spinBoxDistanceOffset->value());
    if (!self)
        return;

    if (logThis && rawValues.size() == pixelCount)
        logFrame(rawValues.constData(), rawValues.size(), mode, image);
}

void MainWindow::setIntegrationTime()
{
    const int value = ui->spinBoxTime->value();
    if (hdrEnabled)
        appendInfo(QStringLiteral("Set HDR 1st integration time ") + QString::number(value)
            + QStringLiteral(" us."));
    else
        appendInfo(QStringLiteral("Set integration time ") + QString::number(value)
            + QStringLiteral(" us by default."));
    sendParameter(Commands::IntegrationTimePrefix, value);
}

void MainWindow::setHDR2ndIntegrationTime()
{
    const int value = ui->spinBoxHDR_HighTime->value();
    appendInfo(
        QStringLiteral("Set HDR 2nd integration time ") + QString::number(value) + QStringLiteral(" us"));
    sendParameter(Commands::HdrSecondTimePrefix, value);
}

void MainWindow::setMinAmplitude()
{
    const int value = ui->spinBoxAmplitude->value();
    appendInfo(QStringLiteral("Set min amplitude ") + QString::number(value) + QStringLiteral(" LSB"));
    sendParameter(Commands::MinAmplitudePrefix, value);
}

void MainWindow::setDistOffset()
{
    // The spin box is in millimetres; the camera takes LSB, two per millimetre.
    const int value = ui->spinBoxDistanceOffset->value() * 2;
    appendInfo(QStringLiteral("Set distance offset ") + QString::number(value) + QStringLiteral(" LSB"));
    sendParameter(Commands::DistanceOffsetPrefix, value);
}

void MainWindow::getDeviceInfo()
{
    qDebug() << "get device info";
    // A second press while a query waits would end the first one's collection.
    if (!deviceInfo || deviceInfo->isCollecting())
        return;

    DeviceState &state = deviceState();
    // The wait below runs other slots: an unplug, or the end of the program,
    // may delete any of these.
    QPointer<MainWindow> self(this);
    QPointer<DeviceInfo> info(deviceInfo);
    QPointer<TofDevice> link(device);
    QSerialPort *port = device->serialPort();
    const quint8 type = device->deviceType();
    // A flag left by an aborted query must not pass for this query's reply.
    state.deviceInfoReceived = false;

    // While streaming, the frame reader takes every byte from the port. It
    // keeps doing so, and the reply reader is handed a copy of what it gets.
    QMetaObject::Connection tee;
    bool teeRunning = false;
    if (disconnect(port, &QSerialPort::readyRead, this, &MainWindow::slotReadData)) {
        info->connectReader(DeviceInfo::Source::OtherReader);
        tee = connect(port, &QSerialPort::readyRead, this, [this, port, info, &teeRunning] {
            // The frame reader reads what is buffered now. A call nested in its
            // hand-over would see those bytes again, so it copies nothing.
            if (teeRunning) {
                slotReadData();
                return;
            }
            teeRunning = true;
            if (info)
                info->takeBytes(port->peek(port->bytesAvailable()));
            slotReadData();
            teeRunning = false;
        });
    } else {
        info->connectReader();
    }
    info->sendQuery();

    const auto cameraGone
        = [&] { return !link || link->deviceType() != type || !link->serialPort()->isOpen(); };
    const auto finished = [&] { return !self || !info || state.deviceInfoReceived || cameraGone(); };
    for (int period = 0; period < 15 && !finished(); ++period)
        busyWait(100, finished);

    if (info)
        info->disconnectReader();
    if (!self)
        return;
    if (tee) {
        disconnect(tee);
        if (state.isStreaming == 1 && !cameraGone())
            connectFrameReader();
    }
    // Without a camera the start button stays as the removal left it.
    const bool cameraPresent
        = !cameraGone() && (type == TofDevice::KavrixM10 || type == TofDevice::KavrixM20);

    if (!state.deviceInfoReceived) {
        appendInfo(QStringLiteral("Get device info failed!"));
        if (cameraPresent) {
            ui->pushButtonStart->setEnabled(true);
            ui->pushButtonStart->setToolTip(QString());
        }
        return;
    }
    state.deviceInfoReceived = false;

    const QString workingDir = state.workingDir();
    const QFileInfo folder(workingDir);
    if (folder.isDir() && folder.isWritable())
        appendInfo(QStringLiteral("Working dir created to: ") + workingDir);
    else
        appendInfo(QStringLiteral("Working dir could not be created: ") + workingDir);
    for (const QString &line : DeviceInfoReply::summaryLines(state, type))
        appendInfo(line);

    if (cameraPresent) {
        ui->pushButtonStart->setEnabled(true);
        ui->pushButtonStart->setToolTip(QString());
    }
}

void MainWindow::frameTypeSelect()
{
    const int index = ui->comboBoxFrameType->currentIndex();
    struct FrameType
    {
        quint8 command;
        const char *title;
        int displayMode;
        bool hdrAllowed;
    };
    static const FrameType types[] = {
        { Commands::SelectAmplitude, "Amplitude image", 5, false },
        { Commands::SelectDepth, "Depth image", 2, true },
        { Commands::SelectGrayscale, "Grayscale image", 6, false },
    };

    if (index == 3) {
        // The point cloud is computed from depth frames: only ask for them when
        // the camera is not already sending depth.
        const bool wasDepth = frameMode == 1;
        frameMode = 3;
        if (!wasDepth)
            sendCommand(Commands::SelectDepth);
        hidePictureWindow();
        if (pointCloudWindow)
            pointCloudWindow->show();
        ui->checkBoxHDR->setEnabled(true);
        return;
    }
    if (index < 0 || index > 2)
        return;

    const FrameType &type = types[index];
    frameMode = quint8(index);
    sendCommand(type.command);
    if (pictureWindow) {
        pictureWindow->setWindowTitle(QString::fromLatin1(type.title));
        pictureWindow->setDisplayMode(type.displayMode);
        pictureWindow->show();
    }
    if (pointCloudWindow)
        pointCloudWindow->hide();
    ui->checkBoxHDR->setEnabled(type.hdrAllowed);
}

void MainWindow::deviceInitialize(quint8 type)
{
    qDebug() << "device Initialize type" << type;
    DeviceState &state = deviceState();
    // The chip temperature shown belongs to the device that sent it.
    ui->lineEditTemperature->clear();

    switch (type) {
    case TofDevice::Bootloader:
        ui->label_Device->setText(QStringLiteral("Bootloader"));
        appendInfo(QStringLiteral("Open bootloader successfully"));
        break;

    case TofDevice::KavrixM10:
    case TofDevice::KavrixM20: {
        const SensorGeometry geometry = geometryFor(type);
        state.imageWidth = geometry.width;
        state.imageHeight = geometry.height;
        state.pixelCount = geometry.width * geometry.height;
        state.frameTrailerBytes = 4;
        state.frameDataBytes = 2 * state.pixelCount;
        device->setDeviceType(type);
        state.frameBuffer = QVector<quint16>(state.pixelCount, 0);

        // A camera that replaces another without a removal in between (for
        // example after the bootloader) must not leave the old views behind.
        delete pointCloudWindow;
        delete pictureWindow;
        delete depthFilter;
        pointCloudWindow = new WidgetPointCloud;
        pictureWindow = new PictureBox;
        // The flip boxes keep the user's choice across cameras: the new picture follows them.
        pictureWindow->setFlipHorizontal(ui->checkBoxHorizontalFlip->isChecked());
        pictureWindow->setFlipVertical(ui->checkBoxVerticalFlip->isChecked());
        depthFilter = new DepthFilter(state.pixelCount);

        depthFilter->setMode(geometry.filterMode);
        ui->comboBoxKalmanFilter->setCurrentIndex(geometry.filterMode);

        if (type == TofDevice::KavrixM10) {
            ui->textEditInfo->clear();
            appendInfo(QStringLiteral("Open Kavrix device successfully"));
            ui->label_Device->setText(QStringLiteral("Kavrix M10"));
        } else {
            appendInfo(QStringLiteral("Open Kavrix M20 successfully"));
            ui->label_Device->setText(QStringLiteral("Kavrix M20"));
        }

        ui->spinBoxTime->setValue(300);
        maximumIntegrationTime = geometry.maximumIntegrationTime;
        ui->spinBoxTime->setMaximum(geometry.maximumIntegrationTime);
        ui->spinBoxHDR_HighTime->setMaximum(geometry.maximumIntegrationTime);

        ui->pushButtonGetInfo->setEnabled(true);
        if (type == TofDevice::KavrixM10) {
            ui->pushButtonStart->setEnabled(true);
            ui->pushButtonStart->setToolTip(QString());
        } else {
            ui->pushButtonStart->setToolTip(
                QStringLiteral("Waiting for \"getInfo\": the Kavrix M20 streams once its device "
                               "information has been read"));
        }
        break;
    }

    case TofDevice::KavrixM10Removed:
    case TofDevice::KavrixM20Removed:
        disconnectFrameReader();
        state.frameBuffer.clear();
        ui->pushButtonGetInfo->setEnabled(false);
        ui->pushButtonStart->setEnabled(false);
        ui->pushButtonStart->setToolTip(QString());
        ui->label_Device->setText(QStringLiteral("No Device"));
        ui->comboBoxFrameType->setCurrentIndex(1);
        if (state.isStreaming == 1)
            on_pushButtonStart_clicked();
        delete pointCloudWindow;
        delete pictureWindow;
        delete depthFilter;
        depthFilter = nullptr;
        device->setDeviceType(TofDevice::NoDevice);
        break;

    default:
        break;
    }
}

void MainWindow::slotCheckRepository()
{
    const QUrl url = repositoryUrl();
    // openUrl hands the location to the desktop and returns at once.
    if (!QDesktopServices::openUrl(url))
        appendInfo(QStringLiteral("Cannot open the firmware repository ") + url.toDisplayString());
}

void MainWindow::slotDRNU_Calibration()
{
    // Two calibration windows would both read the port and take each other's
    // frames: bring the open one forward instead.
    if (calibrationWindow) {
        calibrationWindow->show();
        calibrationWindow->raise();
        calibrationWindow->activateWindow();
        return;
    }
    disconnectFrameReader();
    hidePictureWindow();
    calibrationWindow = new Calibration(device);
    // From now on every byte from the camera goes to the calibration window.
    calibrationWindow->connectReader();
    calibrationWindow->show();
}

void MainWindow::slotLensInfo()
{
    auto *lensWindow = new LensInfo(device);
    lensWindow->show();
}

void MainWindow::filterTypeSelect()
{
    if (depthFilter)
        depthFilter->setMode(ui->comboBoxKalmanFilter->currentIndex());
}

void MainWindow::checkBoxShowPoint_CheckChanged()
{
    if (!pictureWindow)
        return;
    ShowPoint *inspector = pictureWindow->inspector();
    const bool on = ui->checkBoxShowPoint->isChecked();
    inspector->setShowLabel(on);
    inspector->setVisible(on);
}

void MainWindow::showCheckBoard()
{
    checkBoardWindow = new CheckBoard(device);
    checkBoardWindow->show();
    checkBoardWindow->initPointTable();
    // One connection serves every window opened: the slot follows checkBoardWindow.
    connect(this, &MainWindow::pictureReady, this, &MainWindow::updateCheckBoard, Qt::UniqueConnection);
}

void MainWindow::updateCheckBoard()
{
    if (checkBoardWindow)
        checkBoardWindow->updateReadings();
}
