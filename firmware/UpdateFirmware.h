#ifndef UPDATEFIRMWARE_H
#define UPDATEFIRMWARE_H

#include "firmware/BootloaderReplyReader.h"
#include "firmware/FirmwareTransfer.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QSerialPort;
class TofDevice;

namespace Ui {
class UpdateFirmware;
}

// Sends a firmware image to the camera's bootloader, packet by packet as the
// bootloader asks for them, and turns images into the scrambled ".tof" form.
// Deletes itself when closed.
class UpdateFirmware : public QWidget
{
    Q_OBJECT

public:
    explicit UpdateFirmware(TofDevice *device, QWidget *parent = nullptr);
    ~UpdateFirmware() override;

    // The port's readyRead() to and from slotReadData().
    void connectReader();
    void disconnectReader();

    // Replaces the file dialog of "Browse" (automation and tests); an empty
    // function restores the dialog.
    void setFileChooser(std::function<QString()> chooser);
    // How long a silent bootloader is waited for before the transfer is given up.
    void setReplyTimeout(int milliseconds);
    int replyTimeout() const { return m_replyTimer.interval(); }

    bool isTransferRunning() const { return m_transfer.isRunning(); }

public slots:
    void slotReadData();

private slots:
    void on_pushButtonBrowse_clicked();
    void on_pushButtonSendFirmware_clicked();
    void on_pushButtonEncryptFirmware_clicked();
    void replyTimedOut();

private:
    QSerialPort *port() const;
    bool send(const QByteArray &bytes);
    void stopTransfer(const QString &message);
    void updateButtons();
    void showInformation(const QString &text);
    QString chooseFile();

    Ui::UpdateFirmware *ui;
    // The device link outlives every window, but a guard costs nothing.
    QPointer<TofDevice> m_device;
    QByteArray firmwareData;
    QString firmwarePath;
    const QByteArray productTag;

    // The file firmwareData was read from: the ".tof" is named after it, not
    // after a later path that could not be read.
    QString m_loadedPath;
    bool m_loadedLegal = false;
    QString m_lastFolder;

    FirmwareTransfer m_transfer;
    BootloaderReplyReader m_replies;
    QTimer m_replyTimer;
    std::function<QString()> m_fileChooser;
};

#endif // UPDATEFIRMWARE_H
