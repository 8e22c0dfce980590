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

    // Where a query's reply bytes come from: the port itself, or another
    // reader that stays connected first and takes the bytes (the frame reader
    // while streaming), which hands copies over through takeBytes().
    enum class Source { Port, OtherReader };

    // Starts collecting a reply. With Source::Port, connects slotReadData() to
    // the port's readyRead(); disconnectReader() removes exactly that
    // connection and ends the collection.
    void connectReader(Source source = Source::Port);
    void disconnectReader();
    bool isCollecting() const { return m_collecting; }

    // Writes command 1 (get device info).
    void sendQuery();

    // Bytes another reader took from the port; looked at only while collecting.
    void takeBytes(const QByteArray &bytes);

public slots:
    void slotReadData();

private:
    void applyReply(const DeviceInfoData &data);
    bool createWorkingDir();

    Ui::DeviceInfo *ui;
    QPointer<TofDevice> m_device;
    // The receive buffer: bytes of a reply not yet complete.
    DeviceInfoReplyReader receiveBuffer;
    QMetaObject::Connection m_connection;
    bool m_collecting = false;
};

#endif // DEVICEINFO_H
