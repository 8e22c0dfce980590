#include "check/CheckBoard.h"
#include "views/WindowPlacement.h"

#include "check/CheckMeasurement.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"

#include "ui_CheckBoard.h"

#include <QTextStream>

CheckBoard::CheckBoard(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::CheckBoard)
    , device(device)
    , m_pointTable(CheckMeasurement::PointCount)
{
    ui->setupUi(this);
    // The window stays alive, hidden, when closed and never keeps the application running.
    setAttribute(Qt::WA_QuitOnClose, false);
    // No place of its own: opens in the middle of the screen, clear of the main window.
    WindowPlacement::placeWhenShown(this, std::nullopt);
    initPointTable();

    if (device) {
        // A new camera means the frame in the shared buffer is not one this window has seen.
        connect(device, &TofDevice::deviceTypeChanged, this, [this](quint8) { frameSeen = false; });
    }

    createReportFile();
}

CheckBoard::~CheckBoard()
{
    delete ui;
}

void CheckBoard::createReportFile()
{
    const DeviceState &state = deviceState();
    int n = 0;
    while (QFile::exists(CheckMeasurement::reportFilePath(state.workingDir(), n)))
        ++n;
    reportFile.setFileName(CheckMeasurement::reportFilePath(state.workingDir(), n));

    // NewOnly: a file that appeared since the scan is never overwritten.
    if (!reportFile.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly)) {
        ui->textEdit->append(QStringLiteral("Creat check file failed!"));
        return;
    }
    QTextStream out(&reportFile);
    out << CheckMeasurement::reportHeaderLine(state.workingSubdir) << "\n\n";
    out.flush();
    // The header is still in the file's buffer: only its flush tells a full disk.
    const bool written = out.status() == QTextStream::Ok && reportFile.flush();
    reportFile.close();
    if (!written) {
        reportFile.remove(); // created just now: no half header is left behind
        ui->textEdit->append(QStringLiteral("Creat check file failed!"));
        return;
    }

    ui->textEdit->append(QStringLiteral("Check file created to: ") + reportFile.fileName());
    ui->textEdit->append(QStringLiteral("Current step: %1").arg(m_stepIndex));
}

void CheckBoard::initPointTable()
{
    const DeviceState &state = deviceState();
    tableWidth = state.imageWidth;
    tableHeight = state.imageHeight;
    m_pointTable = CheckMeasurement::pointTable(tableWidth, tableHeight);
}

void CheckBoard::followSensorGeometry()
{
    const DeviceState &state = deviceState();
    if (state.imageWidth == tableWidth && state.imageHeight == tableHeight)
        return;
    initPointTable();
    frameSeen = false;
    ui->textEdit->append(QStringLiteral("Sensor changed to %1 x %2, check points recomputed")
                             .arg(tableWidth)
                             .arg(tableHeight));
}

bool CheckBoard::frameFitsSensor() const
{
    const DeviceState &state = deviceState();
    return state.imageWidth > 0 && state.imageHeight > 0
        && state.frameBuffer.size() == state.imageWidth * state.imageHeight;
}

void CheckBoard::updateReadings()
{
    followSensorGeometry();

    const DeviceState &state = deviceState();
    CheckMeasurement::Readings readings;
    if (!frameFitsSensor()
        || !CheckMeasurement::readings(state.frameBuffer, state.imageWidth, state.imageHeight, &readings)) {
        frameSeen = false;
        ui->pushButtonStartMeasure->setEnabled(false);
        // Readings of an earlier frame would only mislead the alignment.
        for (QLineEdit *edit :
            { ui->lineEditValue1, ui->lineEditValue2, ui->lineEditValue3, ui->lineEditValue4 })
            edit->clear();
        if (!noFrameReported)
            ui->textEdit->append(QStringLiteral("No frame to read, live values skipped!"));
        noFrameReported = true;
        return;
    }
    frameSeen = true;
    noFrameReported = false;

    ui->lineEditValue1->setText(QString::number(readings.left));
    ui->lineEditValue2->setText(QString::number(readings.right));
    ui->lineEditValue3->setText(QString::number(readings.before));
    ui->lineEditValue4->setText(QString::number(readings.after));

    ui->pushButtonStartMeasure->setEnabled(
        CheckMeasurement::isParallel(readings, ui->spinBoxParallelAccuracy->value()));
}

void CheckBoard::on_pushButtonNextStep_clicked()
{
    ++m_stepIndex;
    // Computed wide so a long session cannot overflow; the spin box clamps to its range.
    const qint64 distance = qint64(m_stepIndex) * ui->spinBoxStepLength->value();
    ui->spinBoxRealDistance->setValue(int(qMin<qint64>(distance, ui->spinBoxRealDistance->maximum())));
    ui->textEdit->append(QStringLiteral("Current step: %1").arg(m_stepIndex));
}

void CheckBoard::on_pushButtonStartMeasure_clicked()
{
    followSensorGeometry();
    if (!frameSeen || !frameFitsSensor()) {
        ui->textEdit->append(QStringLiteral("No frame received, measure skipped!"));
        return;
    }

    if (!reportFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
        ui->textEdit->append(QStringLiteral("Open check file failed!"));
        return;
    }

    const DeviceState &state = deviceState();
    const CheckMeasurement::Lens lens { state.cameraCx, state.cameraCy, state.cameraFx };
    const QByteArray block = CheckMeasurement::reportBlock(m_stepIndex, ui->spinBoxRealDistance->value(),
        m_pointTable, state.frameBuffer, state.imageWidth, lens);
    const bool written = reportFile.write(block) == block.size() && reportFile.flush();
    reportFile.close();

    ui->textEdit->append(
        written ? QStringLiteral("Measure finished!") : QStringLiteral("Write check file failed!"));
}
