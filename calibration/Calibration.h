#ifndef CALIBRATION_H
#define CALIBRATION_H

#include "calibration/CalibrationFrameReader.h"
#include "calibration/DrnuPackets.h"
#include "calibration/DrnuSweep.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

class InfoDRNUCurve;
class TofDevice;

namespace Ui {
class Calibration;
}

// The "Calibration" window: runs the DRNU sweep of the camera against a box of
// known length, turns it into the per-pixel correction table, writes the three
// calibration files and programs the table into the camera's flash. While the
// window is open its reader takes every byte from the camera.
class Calibration : public QWidget
{
    Q_OBJECT

public:
    explicit Calibration(TofDevice *device, QWidget *parent = nullptr);
    ~Calibration() override;

    // Connect / disconnect slotReadData() to the serial port's readyRead().
    void connectReader();
    void disconnectReader();
    bool isReaderConnected() const { return bool(m_readerConnection); }

    const DrnuSweep &sweep() const { return m_sweep; }
    InfoDRNUCurve *curveWindow() const;
    bool isProgramming() const { return programming; }
    // Every message shown to the user, oldest first.
    QStringList messages() const { return m_messages; }
    // How long an epc660 packet may wait for its acknowledgement.
    void setAckTimeout(int milliseconds) { m_ackTimer.setInterval(milliseconds); }
    // The pause after each epc635 packet, the time the camera needs to take it.
    void setPacketPacing(int milliseconds) { m_packetPacingMs = milliseconds; }

signals:
    // A message shown in the window's status line.
    void messageShown(const QString &text);
    // Flash programming ended: the whole table was sent, or it stopped.
    void programmingFinished(bool complete);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void slotReadData();
    void on_pushButtonRunDRNU_clicked();
    void on_pushButtonRenewDRNU_clicked();
    void setBoxLength();
    void sendLutDataPacket();
    quint16 crc16(const quint8 *data, int length);
    void on_pushButtonSaveProg_clicked();
    bool saveDRNU();
    void programDRNU();
    void deviceTypeChanged(quint8 type);
    void acknowledgementTimedOut();

private:
    bool cameraReady() const;
    void sendCommand(quint8 code);
    void handleFrame(const CalibrationFrame &frame);
    void finishSweep();
    void programEpc635();
    void stopProgramming(const QString &reason);
    void endSaveProgram(bool complete);
    void cancelActivity(const QString &reason);
    bool confirm(const QString &question);
    void showMessage(const QString &text);
    void showCurve();
    void updateButtons();
    Drnu::LutInfo lutInfo() const;

    Ui::Calibration *ui;
    QPointer<TofDevice> device;
    QPointer<InfoDRNUCurve> curve;
    CalibrationFrameReader receiveBuffer;
    QString appDirPath;
    QString workingSubdir;
    qint32 boxLength = 0;
    // The sweep and its table belong to this window: a new window starts clean.
    DrnuSweep m_sweep;
    bool programming = false;

    quint8 m_model; // device type the window calibrates (2 or 3)
    bool m_busy = false; // saving or programming in progress
    int m_generation = 0; // changes when an activity is cancelled or a new one starts
    QString m_saveError;
    Drnu::AckDetector m_ackDetector;
    std::unique_ptr<Drnu::Epc660PacketWriter> m_packetWriter;
    QTimer m_ackTimer;
    int m_packetPacingMs = 10; // an epc635 writes one packet to flash in this time
    QMetaObject::Connection m_readerConnection;
    QStringList m_messages;
};

#endif // CALIBRATION_H
