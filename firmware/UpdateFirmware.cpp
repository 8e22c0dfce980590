#include "firmware/UpdateFirmware.h"
#include "views/WindowPlacement.h"

#include "ui_UpdateFirmware.h"

#include "device/BusyWait.h"
#include "device/TofDevice.h"
#include "firmware/FirmwareFile.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSerialPort>

namespace {

// The bootloader may erase its whole flash area before it acknowledges the
// size; ten seconds of silence still mean it is gone or stuck. Giving up too
// early would break off a healthy update, so the margin is generous.
constexpr int DefaultReplyTimeout = 10000;

} // namespace

UpdateFirmware::UpdateFirmware(TofDevice *device, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::UpdateFirmware)
    , m_device(device)
    , productTag("Morvane Kavrix M10")
    , m_lastFolder(QDir::homePath())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // No place of its own: opens in the middle of the screen, clear of the main window.
    WindowPlacement::placeWhenShown(this, std::nullopt);

    m_replyTimer.setSingleShot(true);
    m_replyTimer.setInterval(DefaultReplyTimeout);
    connect(&m_replyTimer, &QTimer::timeout, this, &UpdateFirmware::replyTimedOut);

    // The device link closes the port the moment the bootloader is removed;
    // a transfer then has nobody to talk to, so it stops at once.
    if (QSerialPort *serial = port()) {
        connect(serial, &QIODevice::aboutToClose, this, [this] {
            if (m_transfer.isRunning())
                stopTransfer(QStringLiteral("Connection to the bootloader lost, firmware update stopped"));
        });
    }
}

UpdateFirmware::~UpdateFirmware()
{
    qDebug() << "destroy update firmware";
    m_replyTimer.stop();
    m_transfer.abort();
    disconnectReader();
    // Tells the bootloader we are done, also when a transfer was broken off.
    send(Bootloader::command(Bootloader::EndTransfer));
    busyWait(100);
    delete ui;
}

QSerialPort *UpdateFirmware::port() const
{
    return m_device ? m_device->serialPort() : nullptr;
}

void UpdateFirmware::connectReader()
{
    if (QSerialPort *serial = port())
        connect(serial, &QSerialPort::readyRead, this, &UpdateFirmware::slotReadData, Qt::UniqueConnection);
}

void UpdateFirmware::disconnectReader()
{
    if (QSerialPort *serial = port())
        disconnect(serial, &QSerialPort::readyRead, this, &UpdateFirmware::slotReadData);
}

void UpdateFirmware::setFileChooser(std::function<QString()> chooser)
{
    m_fileChooser = std::move(chooser);
}

void UpdateFirmware::setReplyTimeout(int milliseconds)
{
    m_replyTimer.setInterval(milliseconds);
}

bool UpdateFirmware::send(const QByteArray &bytes)
{
    QSerialPort *serial = port();
    if (!serial || !serial->isOpen())
        return false;
    return serial->write(bytes) == bytes.size();
}

void UpdateFirmware::slotReadData()
{
    QSerialPort *serial = port();
    if (!serial)
        return;
    // Once the camera is back as a camera, its bytes belong to the main window's
    // frame reader, which may be connected after this one.
    if (!m_transfer.isRunning() && m_device->deviceType() != TofDevice::Bootloader)
        return;
    const QVector<BootloaderReply> replies = m_replies.feed(serial->readAll());
    for (const BootloaderReply &reply : replies) {
        if (reply.code == BootloaderReply::Ready)
            qDebug() << "receive perpared";
        else if (reply.code == BootloaderReply::SizeReceived)
            qDebug() << "receive file info";
        else if (reply.code == BootloaderReply::QueryAnswer)
            qDebug() << "bootloader query answer" << reply.value;

        if (!m_transfer.isRunning())
            continue;
        const FirmwareTransfer::Step step = m_transfer.handleReply(reply);
        if (step.bytes.isEmpty())
            continue;
        if (!send(step.bytes)) {
            stopTransfer(QStringLiteral("Connection to the bootloader lost, firmware update stopped"));
            return;
        }
        if (step.progress >= 0 && step.progress <= ui->progressBar->maximum())
            ui->progressBar->setValue(step.progress);
        if (step.finished) {
            m_replyTimer.stop();
            // Closing deletes the window later, from the event loop, never inside this slot.
            close();
            return;
        }
        m_replyTimer.start();
    }
}

QString UpdateFirmware::chooseFile()
{
    if (m_fileChooser)
        return m_fileChooser();
    return QFileDialog::getOpenFileName(
        this, QStringLiteral("bin file"), m_lastFolder, QStringLiteral("epc635(*bin *tof)"));
}

void UpdateFirmware::on_pushButtonBrowse_clicked()
{
    // Loading another image while one is on its way would only confuse the user.
    if (m_transfer.isRunning())
        return;

    send(Bootloader::command(Bootloader::Query));

    QPointer<UpdateFirmware> self(this);
    const QString path = chooseFile();
    // The dialog runs its own event loop: an unplug or a close may have happened meanwhile.
    if (!self)
        return;

    firmwarePath = path;
    ui->FirmwarePath->setText(firmwarePath);
    if (firmwarePath.isEmpty()) {
        showInformation(QStringLiteral("File name is empty"));
        return;
    }
    m_lastFolder = QFileInfo(firmwarePath).absolutePath();

    FirmwareFile::LoadResult result = FirmwareFile::load(firmwarePath);
    if (result.status == FirmwareFile::LoadStatus::OpenFailed) {
        qDebug() << "firmware file" << firmwarePath << result.error;
        showInformation(QStringLiteral("File open failed"));
        return;
    }

    firmwareData = result.data;
    m_loadedPath = firmwarePath;
    m_loadedLegal = result.status == FirmwareFile::LoadStatus::Loaded;
    updateButtons();
    if (!m_loadedLegal)
        showInformation(QStringLiteral("Illegal file"));
}

void UpdateFirmware::on_pushButtonSendFirmware_clicked()
{
    // A second press while packets are on their way would interleave two transfers.
    if (m_transfer.isRunning() || !m_loadedLegal)
        return;

    QSerialPort *serial = port();
    if (!serial || !serial->isOpen()) {
        showInformation(QStringLiteral("No bootloader connected"));
        return;
    }

    m_replies.clear();
    serial->readAll(); // whatever came before belongs to no transfer
    ui->progressBar->setValue(0);
    if (!send(m_transfer.start(firmwareData))) {
        m_transfer.abort();
        showInformation(QStringLiteral("No bootloader connected"));
        return;
    }
    m_replyTimer.start();
    updateButtons();
}

void UpdateFirmware::on_pushButtonEncryptFirmware_clicked()
{
    if (m_loadedPath.isEmpty()) {
        showInformation(QStringLiteral("File name is empty"));
        return;
    }
    const FirmwareFile::WriteResult result
        = FirmwareFile::writeEncrypted(m_loadedPath, firmwareData, productTag);
    if (!result.ok) {
        showInformation(
            QStringLiteral("Encrypt firmware failed: %1\n%2").arg(result.error, result.outputPath));
        return;
    }
    showInformation(QStringLiteral("Encrypt firmware generated"));
}

void UpdateFirmware::replyTimedOut()
{
    if (!m_transfer.isRunning())
        return;
    QSerialPort *serial = port();
    if (!serial || !serial->isOpen())
        stopTransfer(QStringLiteral("Connection to the bootloader lost, firmware update stopped"));
    else
        stopTransfer(QStringLiteral("Bootloader not responding, firmware update stopped"));
}

void UpdateFirmware::stopTransfer(const QString &message)
{
    m_replyTimer.stop();
    m_transfer.abort();
    m_replies.clear();
    updateButtons();
    showInformation(message);
}

void UpdateFirmware::updateButtons()
{
    const bool running = m_transfer.isRunning();
    ui->pushButtonSendFirmware->setEnabled(m_loadedLegal && !running);
    ui->pushButtonBrowse->setEnabled(!running);
}

void UpdateFirmware::showInformation(const QString &text)
{
    // Shown without a nested event loop: a transfer, an unplug or a close of
    // this window may go on while the box is up, and nothing here is left
    // waiting for it.
    auto *box
        = new QMessageBox(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}
