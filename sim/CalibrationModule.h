#ifndef CALIBRATIONMODULE_H
#define CALIBRATIONMODULE_H

#include "sim/SimModule.h"

#include <QTimer>
#include <QVector>

// The camera's side of the DRNU calibration. Command 9 sends a parameters
// frame (status 5: DLL range, step count) and then step frames (status 6) of
// the current DLL step with its chip temperature, drawn from CalibrationScene;
// command 10 moves to the next step, command 3 stops. Command 13 ("save DRNU")
// is recorded and readies the LUT reception: for a "Kavrix M10" 23 x 320
// 64-byte packets and the 13-byte information packet, for a "Kavrix M20"
// 2048-byte packets whose CRC and index are checked and each acknowledged with
// 45 45 02 ... "*##*". The decoded table and information values can be written
// to a file.
//
// Options: --calib-fps <n> (step frames per second, default 30),
// --calib-steps <n> (step count announced, default 23), --calib-output <file>,
// --calib-drop-ack <k> (never acknowledge packet k), --calib-ack-delay <ms>.
// Events: "calib start", "calib step <s>", "calib stop", "calib save",
// "calib lut error <what>", "calib lut done <values> <errors>",
// "calib written <file>". Control line "calib stats" answers
// "calib stats frames <n> packets <n> errors <n>".
class CalibrationModule : public SimModule
{
    Q_OBJECT

public:
    explicit CalibrationModule(SimCamera &camera);

    bool handleCommand(const QByteArray &command) override;
    int pendingRawBytes() const override;
    void handleRaw(const QByteArray &packet) override;
    void addOptions(QCommandLineParser &parser) override;
    bool applyOptions(const QCommandLineParser &parser, QString *error) override;
    bool handleControl(const QStringList &words) override;
    void unplugged() override;
    void modelChanged() override;

private:
    enum class Reception { None, Epc635, Epc635Info, Epc660 };

    void startSweep();
    void stopSweep();
    void sendStepFrame();
    QByteArray frameBlock(const QVector<quint16> &pixels, quint16 value, quint8 step, quint8 status) const;
    void beginReception();
    void receiveEpc635(const QByteArray &packet);
    void receiveEpc635Info(const QByteArray &packet);
    void receiveEpc660(const QByteArray &packet);
    void error(const QString &what);
    void finishReception();
    static qint32 decode(const char *bytes);

    int m_fps = 30;
    int m_announcedSteps = 23;
    QString m_outputPath;
    int m_dropAck = -1;
    int m_ackDelayMs = 0;

    QTimer m_frameTimer;
    bool m_sweeping = false;
    int m_step = 0;
    int m_frameInStep = 0;
    quint64 m_framesSent = 0;

    Reception m_reception = Reception::None;
    int m_packetIndex = 0;
    int m_errors = 0;
    quint64 m_packets = 0;
    QVector<qint32> m_table;
    QVector<qint32> m_info;
};

#endif // CALIBRATIONMODULE_H
