#ifndef CLI_H
#define CLI_H

#include "device/PortDiscovery.h"
#include "deviceinfo/DeviceInfoReply.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QCommandLineParser;

// Exit codes of quarvel-cli, one per kind of outcome.
namespace Exit {
enum Code {
    Done = 0,
    Usage = 1,
    NoCamera = 2, // none found, not the kind asked for, or the port is busy
    CameraLost = 3, // unplugged or not answering in the middle of a job
    FileError = 4, // a file could not be read or written
    Interrupted = 130, // Ctrl-C or SIGTERM: the job was stopped cleanly
};
}

namespace Cli {

// "quarvel-cli: <text>" on stderr.
void error(const QString &text);
// A plain line on stderr (notes and progress that are not results).
void note(const QString &text);
// A result line on stdout.
void out(const QString &text);

// Ctrl-C, SIGTERM and SIGHUP set a flag instead of ending the process, so a
// job can stop the camera and close its files first.
void installInterruptHandler();
bool interrupted();

// Keeps the event loop running until `done` returns true, the time runs out
// (false) or an interrupt arrives (false).
bool waitUntil(int milliseconds, const std::function<bool()> &done);

// The port registry folder of simulated cameras (the same one the window uses).
QString registryFolder();

// Parses a subcommand's options; prints its help for --help. Returns -1 to go
// on, otherwise the exit code to end with.
int parse(QCommandLineParser &parser, const QString &command, const QString &description,
    const QStringList &arguments, int minPositional, int maxPositional, const QString &positionalHelp = {});

// Progress of a long job on stderr: on a terminal one line redrawn in place
// with a bar, the rate and the time left; otherwise a plain line every few
// seconds. `total` 0 means unknown (no bar, no time left).
class Progress
{
public:
    Progress(const QString &unit, qint64 total);
    // `fraction` overrides done / total when given (a job bounded by time).
    void update(qint64 done, double fraction = -1.0);
    void finish();

    static QString line(
        const QString &unit, qint64 done, qint64 total, double fraction, double elapsedSeconds, int barWidth);

private:
    QString m_unit;
    qint64 m_total;
    bool m_terminal;
    QElapsedTimer m_clock;
    qint64 m_lastShown = -1;
    qint64 m_done = 0;
    double m_fraction = -1.0;
    bool m_drawn = false;
};

// The open port of one camera or bootloader, watched for its loss: the tty
// hangs up or errs, or the port leaves the system's list or the registry.
class CameraLink : public QObject
{
    Q_OBJECT

public:
    enum Want { Camera = 1, Bootloader = 2, CameraOrBootloader = 3 };

    CameraLink();
    ~CameraLink() override;

    // Finds and opens a port of the wanted kind (`portName` empty: the first
    // found). Returns Exit::Done, or the exit code after a message.
    int open(const QString &portName, Want want);
    // Waits up to `milliseconds` for a port of the wanted kind to appear and opens it.
    int waitAndOpen(const QString &portName, Want want, int milliseconds);
    void close();

    const DiscoveredPort &port() const { return m_port; }
    quint8 deviceType() const { return m_port.deviceType; }
    bool isOpen() const { return m_serial.isOpen(); }
    bool isLost() const { return m_lost; }

    bool write(const QByteArray &bytes);
    QByteArray readAll() { return m_serial.readAll(); }
    QSerialPort *serialPort() { return &m_serial; }

signals:
    void readyRead();
    void lost();

private:
    int tryOpen(const QString &portName, Want want, bool quiet);
    void checkStillThere();
    void markLost();

    QSerialPort m_serial;
    DiscoveredPort m_port;
    QTimer m_watch;
    bool m_lost = false;
};

// Sends command 1 (get device info) and waits for the reply, sending it once
// more after a silent second and a half. Exit::Done, or the exit code after a message.
int queryDeviceInfo(CameraLink &link, DeviceInfoData *data);

// The lens values the window would use after this reply: the camera's own, or
// the model's defaults when it has none (the same rule as the info summary).
struct LensValues
{
    double factor = 1000.0, cx = 1.0, cy = 1.0, fx = 1.0, fy = 1.0;
};
LensValues lensInUse(const DeviceInfoData &data, quint8 deviceType);

} // namespace Cli

// The subcommands; each returns the process exit code.
int runList(const QStringList &arguments);
int runInfo(const QStringList &arguments);
int runCapture(const QStringList &arguments);
int runRecord(const QStringList &arguments);
int runExport(const QStringList &arguments);
int runFirmwareUpdate(const QStringList &arguments);

#endif // CLI_H
