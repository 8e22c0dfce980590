#ifndef DEVICEINFO_H
#define DEVICEINFO_H

#include "deviceinfo/DeviceInfoReply.h"

#include <QByteArray>
#include <QPointer>
#include <QWidget>

class TofDevice;

namespace Ui {
class DeviceInfo;
}

// Reads the camera's answer to the device-information query: decodes it into
// the shared device state, creates the per-device working folder and mirrors
// the values in its (never shown) form. The main window drives the query.
class DeviceInfo : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceInfo(TofDevice *device, QWidget *parent = nullptr);
    ~DeviceInfo() override;

    // Connects slotReadData() to the port's readyRead() and starts a new
    // collection; disconnectReader() removes exactly that connection.
    void connectReader();
    void disconnectReader();
    bool isReaderConnected() const { return bool(m_connection); }

    // Writes command 1 (get device info).
    void sendQuery();

    // For a reader that was connected to the port first and so takes the
    // bytes (the frame reader while streaming): hands over one block cut at a
    // marker. Decoded, and true returned, only while this reader is connected
    // and the block is a device-information reply.
    bool takeBlock(const QByteArray &block);

    // Outcome of creating the working folder for the last decoded reply.
    bool workingDirReady() const { return m_workingDirReady; }
    QString workingDirError() const { return m_workingDirError; }

public slots:
    void slotReadData();

private:
    void applyReply(const DeviceInfoData &data);
    void createWorkingDir();

    Ui::DeviceInfo *ui;
    QPointer<TofDevice> m_device;
    // The receive buffer: bytes of a reply not yet complete.
    DeviceInfoReplyReader receiveBuffer;
    QMetaObject::Connection m_connection;
    bool m_workingDirReady = false;
    QString m_workingDirError;
};

#endif // DEVICEINFO_H
