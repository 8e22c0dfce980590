#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "app/FrameLogger.h"
#include "app/StreamStatus.h"
#include "frames/FrameFramer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <memory>

class Calibration;
class CheckBoard;
class DepthFilter;
class DeviceInfo;
class FrameColorizer;
class ImageColorizer;
class PictureBox;
class QLabel;
class QLockFile;
class QMenu;
class RangeSlider;
class TofDevice;
class UpdateFirmware;
class WidgetPointCloud;

namespace Ui {
class MainWindow;
}

// The camera's control panel: turns the user's actions into camera commands,
// receives the frame stream and hands each frame to the views, and reports
// everything it does in its message log.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(TofDevice *device, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Read access for the tool windows and tests.
    PictureBox *pictureBox() const;
    // The receiver of the live frames, for its counters.
    const FrameFramer &framer() const { return frameFramer; }
    WidgetPointCloud *pointCloud() const;
    DepthFilter *filter() const { return depthFilter; }
    quint8 currentFrameMode() const { return frameMode; }
    // The status bar's live line.
    QString statusLine() const;

signals:
    void pictureReady(quint8 mode);

private slots:
    void on_pushButtonStart_clicked();
    void on_pushButtonLogData_clicked();
    void on_pushButtonGetInfo_clicked();
    void slotUpdateFirmware();
    void checkBoxVerticalFlip_CheckChanged();
    void checkBoxHDR_CheckChanged();
    void checkBoxDRNU_LUT_CheckChanged();
    void checkBoxHorizontalFlip_CheckChanged();

public slots:
    void slotReadData();

private slots:
    void setIntegrationTime();
    void setHDR2ndIntegrationTime();
    void setMinAmplitude();
    void setDistOffset();

public slots:
    void getDeviceInfo();

private slots:
    void frameTypeSelect();

public slots:
    void deviceInitialize(quint8 type);

private slots:
    void slotCheckRepository();
    void slotDRNU_Calibration();
    void slotLensInfo();
    void filterTypeSelect();
    void checkBoxShowPoint_CheckChanged();

public slots:
    void showCheckBoard();
    void updateCheckBoard();

private:
    void sendCommand(quint8 code);
    void sendParameter(char prefix, int value);
    void appendInfo(const QString &line);
    void buildMenus();
    void connectFrameReader();
    void disconnectFrameReader();
    void setStreamingControlsEnabled(bool enabled);
    void hidePictureWindow();
    // Called by the frame reception for every accepted frame, after the
    // hand-over: writes the pending log from the values as received (before
    // the depth filter), the frame's mode and the image as displayed.
    void logFrame(const quint16 *rawValues, int count, quint8 mode, const QImage &image);
    // One accepted frame (frame data and trailer, marker excluded), in stream order.
    void processFrame(const char *frame, int size);
    StreamStatus::Counters streamCounters() const;
    void updateStatusLine();

    Ui::MainWindow *ui;
    TofDevice *device;
    // Windows an unplug may delete while a wait runs elsewhere: always QPointer.
    QPointer<WidgetPointCloud> pointCloudWindow;
    QPointer<PictureBox> pictureWindow;
    ImageColorizer *colorizer = nullptr;
    QPointer<UpdateFirmware> updateFirmwareWindow;
    QPointer<Calibration> calibrationWindow;
    QPointer<DeviceInfo> deviceInfo;
    DepthFilter *depthFilter = nullptr;
    RangeSlider *rangeSlider = nullptr;
    QPointer<CheckBoard> checkBoardWindow;
    QMenu *checkMenu = nullptr;
    // Frame reception: the framer keeps what is not yet a whole frame; the
    // frame colouring holds per-value colour tables built from `colorizer`.
    FrameFramer frameFramer;
    std::unique_ptr<FrameColorizer> frameColorizer;
    QByteArray readChunk;
    QVector<quint16> rawValues;
    QElapsedTimer frameClock;
    bool openingFirmwareWindow = false;
    bool readingFrames = false;
    // One-frame logging: logIndex() is the number of the last record,
    // isPending() tells that the next accepted frame is to be logged.
    FrameLogger frameLogger;
    bool hdrEnabled = false;
    quint8 frameMode = 1;
    // The integration time maximum of the open camera, without HDR.
    int maximumIntegrationTime = 4000;
    // Status line: counted per shown frame, read a few times a second.
    quint64 framesShown = 0;
    StreamStatus streamStatus;
    QElapsedTimer statusClock;
    QTimer statusTimer;
    QLabel *statusLabel = nullptr;
    bool statusStreaming = false;
    // Held while the window exists; tells later instances where not to open.
    std::unique_ptr<QLockFile> instanceLock;
};

#endif // MAINWINDOW_H
