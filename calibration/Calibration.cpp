#include "calibration/Calibration.h"

#include "ui_Calibration.h"
#include "views/WindowPlacement.h"

#include "calibration/DrnuFiles.h"
#include "calibration/InfoDRNUCurve.h"
#include "device/BusyWait.h"
#include "device/Commands.h"
#include "device/Crc16.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSerialPort>

namespace {

// Flash writes on the camera take a moment; a packet left unanswered this long is lost.
constexpr int AckTimeoutMs = 10000;
constexpr int SaveWaitMs = 4000;

int pixelCountFor(quint8 type)
{
    switch (type) {
    case TofDevice::KavrixM10:
        return 160 * 60;
    case TofDevice::KavrixM20:
        return 320 * 240;
    default:
        return deviceState().pixelCount;
    }
}

QString temperatureText(int sixteenths)
{
    return QString::number(sixteenths * 0.0625, 'f', 1) + QStringLiteral(" C");
}

} // namespace

Calibration::Calibration(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Calibration)
    , device(device)
    , receiveBuffer(pixelCountFor(device ? device->deviceType() : 0))
    , m_sweep(pixelCountFor(device ? device->deviceType() : 0))
    , m_model(device ? device->deviceType() : 0)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.width() / 16 * 5, available.height() / 2);
        WindowPlacement::placeWhenShown(this, pos());
    }
    // Values are taken when the user has finished typing, not per keystroke.
    for (QAbstractSpinBox *spinBox : findChildren<QAbstractSpinBox *>())
        spinBox->setKeyboardTracking(false);

    appDirPath = deviceState().appDirPath;
    workingSubdir = deviceState().workingSubdir;
    qDebug() << appDirPath + workingSubdir;

    curve = new InfoDRNUCurve;
    // The plot opens beside this window, never over its fields.
    WindowPlacement::placeWhenShown(curve, curve->pos(), { this });

    boxLength = ui->spinBoxBoxLength->value();
    connect(
        ui->spinBoxBoxLength, QOverload<int>::of(&QSpinBox::valueChanged), this, &Calibration::setBoxLength);

    m_ackTimer.setSingleShot(true);
    m_ackTimer.setInterval(AckTimeoutMs);
    connect(&m_ackTimer, &QTimer::timeout, this, &Calibration::acknowledgementTimedOut);

    if (device)
        connect(device, &TofDevice::deviceTypeChanged, this, &Calibration::deviceTypeChanged);
    if (m_model != TofDevice::KavrixM10 && m_model != TofDevice::KavrixM20)
        showMessage(QStringLiteral("No Kavrix M10 or M20 camera is connected"));
    updateButtons();
}

Calibration::~Calibration()
{
    m_ackTimer.stop();
    disconnectReader();
    // No wait here: a destructor that runs the event loop lets slots reach a
    // half-destroyed window.
    // Deferred: code that walks the window list while deleting windows must
    // not meet a plot window freed behind its back.
    if (curve) {
        curve->hide();
        curve->deleteLater();
    }
    delete ui;
}

InfoDRNUCurve *Calibration::curveWindow() const
{
    return curve;
}

void Calibration::connectReader()
{
    if (m_readerConnection || !device || !device->serialPort())
        return;
    m_readerConnection
        = connect(device->serialPort(), &QSerialPort::readyRead, this, &Calibration::slotReadData);
}

void Calibration::disconnectReader()
{
    if (m_readerConnection)
        disconnect(m_readerConnection);
    m_readerConnection = {};
}

bool Calibration::cameraReady() const
{
    return device && device->deviceType() == m_model
        && (m_model == TofDevice::KavrixM10 || m_model == TofDevice::KavrixM20) && device->serialPort()
        && device->serialPort()->isOpen();
}

void Calibration::sendCommand(quint8 code)
{
    if (cameraReady())
        device->serialPort()->write(Commands::camera(code));
}

void Calibration::showMessage(const QString &text)
{
    qDebug().noquote() << text;
    m_messages.append(text);
    const QFontMetrics metrics(ui->labelStatus->font());
    ui->labelStatus->setText(metrics.elidedText(text, Qt::ElideMiddle, ui->labelStatus->width()));
    ui->labelStatus->setToolTip(text);
    emit messageShown(text);
}

void Calibration::updateButtons()
{
    const bool running = m_sweep.isRunning();
    ui->pushButtonRunDRNU->setEnabled(!m_busy);
    ui->pushButtonRenewDRNU->setEnabled(!m_busy && !running);
    ui->pushButtonSaveProg->setEnabled(!m_busy && !running);
}

void Calibration::slotReadData()
{
    if (!device || !device->serialPort())
        return;
    const QByteArray bytes = device->serialPort()->readAll();
    if (bytes.isEmpty())
        return;

    if (programming) {
        // One packet per acknowledgement: only one is ever outstanding.
        if (m_ackDetector.feed(bytes) > 0 && m_packetWriter) {
            qDebug() << "send drnu data packet";
            sendLutDataPacket();
        }
        return;
    }

    receiveBuffer.append(bytes);
    CalibrationFrame frame;
    // A listener of messageShown() may close the window.
    QPointer<Calibration> self(this);
    while (self && !programming && receiveBuffer.next(&frame))
        handleFrame(frame);
}

void Calibration::handleFrame(const CalibrationFrame &frame)
{
    if (frame.status == CalibrationFrame::Parameters) {
        ui->lineEditDllSteps->setText(QString::number(frame.step));
        ui->lineEditxDllRange->setText(QString::number(frame.value));
        if (!m_sweep.setParameters(frame.value, frame.step)) {
            showMessage(QStringLiteral("The camera reports 0 DLL steps; the step size stays %1 mm")
                            .arg(m_sweep.dllStepSize));
        }
        return;
    }
    if (frame.status != CalibrationFrame::Step)
        return;

    ui->lineEditCalibTemp->setText(temperatureText(frame.value));
    QStringList log;
    const DrnuSweep::FrameResult result
        = m_sweep.addStepFrame(frame.pixels.constData(), frame.value, frame.step, &log);
    for (const QString &line : qAsConst(log))
        qDebug().noquote() << line;

    switch (result) {
    case DrnuSweep::FrameResult::Ignored:
        return;
    case DrnuSweep::FrameResult::Accumulated:
        break;
    case DrnuSweep::FrameResult::StepClosed:
        if (m_sweep.expectedStep() == 1)
            ui->lineEditBoxOffset->setText(QString::number(m_sweep.drnuOffset));
        sendCommand(Commands::NextDrnuStep);
        break;
    case DrnuSweep::FrameResult::SweepComplete:
        finishSweep();
        return;
    }
    ui->progressBar->setValue(m_sweep.progress());
}

void Calibration::finishSweep()
{
    sendCommand(Commands::StopStreaming);
    QStringList log;
    m_sweep.finishSweep(&log);
    for (const QString &line : qAsConst(log))
        qDebug().noquote() << line;

    // The spin box stops at its limits; the table used the step size itself.
    ui->spinBoxRenewValue->setValue(m_sweep.dllStepSize * 10);
    showCurve();
    ui->lineEditCalibTemp->setText(temperatureText(m_sweep.avgChipTemperature));
    ui->progressBar->setValue(100);

    const int outside = m_sweep.outOfRangeCount();
    if (outside > 0) {
        showMessage(
            QStringLiteral("DRNU calibration finished, but %1 table values lie outside -10000 to 32767 mm "
                           "and cannot be stored as they are: check the target and the box length")
                .arg(outside));
    } else {
        showMessage(QStringLiteral("DRNU calibration finished"));
    }
    updateButtons();
}

void Calibration::showCurve()
{
    if (!curve)
        return;
    curve->setCurveData(m_sweep.stepMeans, m_sweep.stepTemperatures);
    curve->updateCurve();
    curve->show();
}

void Calibration::on_pushButtonRunDRNU_clicked()
{
    if (m_busy)
        return;
    if (!cameraReady()) {
        showMessage(QStringLiteral("No camera: connect the camera this window was opened for"));
        return;
    }
    connectReader();
    // A new sweep always starts at step 0 with cleared sums.
    m_sweep.start();
    programming = false;
    ui->progressBar->setValue(0);
    sendCommand(Commands::StartDrnuCalibration);
    showMessage(QStringLiteral("Start DRNU calibration"));
    updateButtons();
}

void Calibration::on_pushButtonRenewDRNU_clicked()
{
    if (m_busy || m_sweep.isRunning())
        return;
    m_sweep.renewDRNU(ui->spinBoxRenewValue->value());
    showCurve();
}

void Calibration::setBoxLength()
{
    boxLength = ui->spinBoxBoxLength->value();
    qDebug() << "box length: " << boxLength;
}

bool Calibration::confirm(const QString &question)
{
    return QMessageBox::question(this, QStringLiteral("Calibration"), question,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

void Calibration::on_pushButtonSaveProg_clicked()
{
    if (m_busy || m_sweep.isRunning())
        return;
    QPointer<Calibration> self(this);
    // Unplug or close bump the generation while a dialog or a wait runs.
    const int generation = ++m_generation;
    auto cancelled = [self, this, generation] { return !self || m_generation != generation; };
    m_busy = true;
    updateButtons();
    if (curve)
        curve->hide();
    ui->progressBarSaveProg->setValue(1);

    if (!m_sweep.hasResult()) {
        const bool goOn
            = confirm(QStringLiteral("No calibration has finished in this window, so the table holds no "
                                     "measurement.\nSave it and program it into the camera anyway?"));
        if (cancelled())
            return;
        if (!goOn) {
            showMessage(QStringLiteral("Nothing saved or programmed"));
            endSaveProgram(false);
            return;
        }
    }

    if (!saveDRNU()) {
        const bool goOn = confirm(m_saveError
            + QStringLiteral(
                "\n\nThe calibration files were not written. Program the table into the camera anyway?"));
        if (cancelled())
            return;
        if (!goOn) {
            showMessage(m_saveError + QStringLiteral(" - the table was not programmed"));
            endSaveProgram(false);
            return;
        }
    }

    if (!cameraReady()) {
        showMessage(QStringLiteral("No camera: the table was not programmed"));
        endSaveProgram(false);
        return;
    }

    // The camera prepares its flash after "save DRNU".
    sendCommand(Commands::SaveDrnu);
    busyWait(SaveWaitMs, cancelled);
    if (cancelled())
        return;
    if (!cameraReady()) {
        showMessage(QStringLiteral("The camera was removed: the table was not programmed"));
        endSaveProgram(false);
        return;
    }
    programDRNU();
}

bool Calibration::saveDRNU()
{
    // The folder and the identity written into the files are read together.
    appDirPath = deviceState().appDirPath;
    workingSubdir = deviceState().workingSubdir;
    const QString folder = appDirPath + workingSubdir;

    Drnu::FileContent content;
    content.deviceType = device ? device->deviceType() : m_model;
    if (content.deviceType != TofDevice::KavrixM10 && content.deviceType != TofDevice::KavrixM20)
        content.deviceType = m_model;
    content.pixelCount = m_sweep.pixelCount();
    content.stepDistances = m_sweep.stepDistances.constData();
    content.lutTable = m_sweep.lutTable.constData();
    content.stepMeans = m_sweep.stepMeans.data();
    content.waferID = deviceState().waferID;
    content.chipID = deviceState().chipID;
    content.avgChipTemperature = m_sweep.avgChipTemperature;
    content.dllStepSize = m_sweep.dllStepSize;
    content.drnuOffset = m_sweep.drnuOffset;
    content.boxLength = boxLength;

    const Drnu::SaveResult result = Drnu::saveFiles(folder, content);
    if (!result.ok) {
        m_saveError = result.message;
        showMessage(result.message);
        return false;
    }
    m_saveError.clear();
    showMessage(QStringLiteral("Save DRNU calibration file finished"));
    return true;
}

Drnu::LutInfo Calibration::lutInfo() const
{
    Drnu::LutInfo info;
    info.waferID = deviceState().waferID;
    info.chipID = deviceState().chipID;
    info.avgChipTemperature = m_sweep.avgChipTemperature;
    info.dllStepSize = m_sweep.dllStepSize;
    info.drnuOffset = m_sweep.drnuOffset;
    info.boxLength = boxLength;
    return info;
}

void Calibration::programDRNU()
{
    programming = true;
    m_ackDetector.reset();
    switch (cameraReady() ? m_model : 0) {
    case TofDevice::KavrixM10:
        programEpc635();
        break;
    case TofDevice::KavrixM20:
        m_packetWriter = std::make_unique<Drnu::Epc660PacketWriter>(
            m_sweep.lutTable.constData(), m_sweep.lutTable.size(), lutInfo());
        sendLutDataPacket();
        break;
    default:
        stopProgramming(QStringLiteral("No camera: the table was not programmed"));
        break;
    }
}

void Calibration::programEpc635()
{
    QPointer<Calibration> self(this);
    const int generation = m_generation;
    auto cancelled = [self, this, generation] { return !self || m_generation != generation; };
    ui->progressBarSaveProg->setValue(2);
    const int n = m_sweep.pixelCount();
    const qint32 *table = m_sweep.lutTable.constData();
    for (int s = 0; s < Drnu::StepCount; ++s) {
        int packetNumber = 0;
        // Only whole packets travel; 9600 pixels are 320 of them per step.
        for (int p = 0; p + Drnu::Epc635ValuesPerPacket <= n; p += Drnu::Epc635ValuesPerPacket) {
            ++packetNumber;
            device->serialPort()->write(Drnu::epc635LutPacket(table + s * n + p, packetNumber, s));
            busyWait(m_packetPacingMs, cancelled);
            if (cancelled())
                return; // whoever cancelled has said why
            if (!cameraReady()) {
                stopProgramming(
                    QStringLiteral("The camera was removed during flash programming: the camera's "
                                   "table is incomplete, program it again"));
                return;
            }
        }
        qDebug() << "Program DRNU LUT step " << s;
        ui->progressBarSaveProg->setValue((s + 1) * 100 / Drnu::StepCount);
    }

    Drnu::LutInfo info = lutInfo();
    info.drnuOffset = m_sweep.drnuOffset + m_sweep.residualMean;
    device->serialPort()->write(Drnu::epc635InfoPacket(info));
    qDebug() << "Program DRNU LUT finished! ";
    showMessage(QStringLiteral("Program DRNU LUT finished!"));
    programming = false;
    m_busy = false;
    emit programmingFinished(true);
    if (!self)
        return;
    if (curve)
        curve->close();
    close();
}

void Calibration::sendLutDataPacket()
{
    if (!m_packetWriter)
        return;
    qDebug() << "Packet count" << m_packetWriter->index();
    if (m_packetWriter->atEnd()) {
        m_ackTimer.stop();
        m_packetWriter.reset();
        qDebug() << "Send finished!";
        showMessage(QStringLiteral("Send finished!"));
        programming = false;
        endSaveProgram(true);
        return;
    }
    if (!cameraReady()) {
        stopProgramming(
            QStringLiteral("The camera was removed during flash programming: the camera's table is "
                           "incomplete, program it again"));
        return;
    }
    m_ackDetector.reset();
    device->serialPort()->write(m_packetWriter->next());
    ui->progressBarSaveProg->setValue(qMin(100, m_packetWriter->progress()));
    m_ackTimer.start();
}

quint16 Calibration::crc16(const quint8 *data, int length)
{
    return crc16Xmodem(reinterpret_cast<const char *>(data), length);
}

void Calibration::acknowledgementTimedOut()
{
    if (!m_packetWriter)
        return;
    stopProgramming(QStringLiteral("No acknowledgement from the camera for LUT packet %1 within %2 s: flash "
                                   "programming stopped, the camera's table is incomplete")
                        .arg(m_packetWriter->index() - 1)
                        .arg(m_ackTimer.interval() / 1000.0));
}

void Calibration::stopProgramming(const QString &reason)
{
    m_ackTimer.stop();
    m_packetWriter.reset();
    programming = false;
    showMessage(reason);
    endSaveProgram(false);
}

void Calibration::endSaveProgram(bool complete)
{
    const bool wasBusy = m_busy;
    m_busy = false;
    if (!complete && ui->progressBarSaveProg->value() <= 1)
        ui->progressBarSaveProg->setValue(0);
    updateButtons();
    if (wasBusy)
        emit programmingFinished(complete);
}

void Calibration::cancelActivity(const QString &reason)
{
    const bool sweeping = m_sweep.isRunning();
    const bool wasProgramming = programming;
    const bool wasBusy = m_busy;
    ++m_generation;
    m_sweep.abort();
    m_ackTimer.stop();
    m_packetWriter.reset();
    programming = false;
    receiveBuffer.clear();
    if (sweeping) {
        ui->progressBar->setValue(0);
        showMessage(reason + QStringLiteral(": calibration stopped"));
    } else if (wasProgramming) {
        showMessage(reason + QStringLiteral(": flash programming stopped, the camera's table is incomplete"));
    } else if (wasBusy) {
        showMessage(reason + QStringLiteral(": the table was not programmed"));
    }
    endSaveProgram(false);
}

void Calibration::deviceTypeChanged(quint8 type)
{
    if (type == m_model) {
        // The camera is back (or was rescanned): listen to it again.
        if (isVisible())
            connectReader();
        return;
    }
    disconnectReader();
    cancelActivity(QStringLiteral("The camera was removed"));
    if (!m_messages.isEmpty() && !m_messages.last().startsWith(QStringLiteral("The camera was removed")))
        showMessage(QStringLiteral("The camera was removed"));
}

void Calibration::closeEvent(QCloseEvent *event)
{
    // Stop the camera's calibration stream: nobody reads it once the window is gone.
    if (m_sweep.isRunning())
        sendCommand(Commands::StopStreaming);
    disconnectReader();
    cancelActivity(QStringLiteral("The window was closed"));
    if (curve)
        curve->hide();
    QWidget::closeEvent(event);
}
