#ifndef SIMCAMERA_H
#define SIMCAMERA_H

#include "sim/CommandFramer.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

class QCommandLineParser;
class QSocketNotifier;
class SimModule;

// The simulated Kavrix camera: a pseudo-terminal published in the port registry
// as a virtual USB serial port, a decoder for the application's commands, a
// transcript of every byte received, and the modules that give the camera its
// behaviour. Controlled through stdin lines and signals; reports on stdout.
//
// Options: --model m10|m20|bootloader, --name NAME, --vid HEX|none, --pid HEX|none,
//   --transcript FILE, --unplugged, --chunk N, --chunk-random SEED, --chunk-gap MS.
// stdin: plug | unplug | hangup [entryDelayMs] | reenumerate <model> [delayMs] |
//   send <hex bytes> | noise <bytes> <markerEvery> [seed] | status | quit; other lines
//   go to the modules, else "error ...". noise: random bytes, a marker "*##*" after
//   every markerEvery bytes and at the end (0: no marker at all).
// Signals: SIGUSR1 unplug, SIGUSR2 plug, SIGTERM/SIGINT/SIGHUP quit.
// stdout: "ready <name> <model>", "plugged <name> <tty>", "unplugged <name>",
//   "rx <transcript line>", "status ...", "error ...", "bye <name>", module events.
class SimCamera : public QObject
{
    Q_OBJECT

public:
    enum Model { M10, M20, Bootloader };

    explicit SimCamera(QObject *parent = nullptr);
    ~SimCamera() override;

    // Takes ownership. Register every module before setup().
    void addModule(SimModule *module);
    template <typename T> T *addModule()
    {
        auto *module = new T(*this);
        addModule(module);
        return module;
    }

    // Parses the command line (the modules' options included). On false the
    // message in *error is meant for stderr.
    bool setup(const QStringList &arguments, QString *error);
    // Installs the control channels and plugs in unless --unplugged was given.
    void start();

    Model model() const { return m_model; }
    // For a module's options: the model to start as, instead of --model.
    void setInitialModel(Model model) { setModel(model); }
    static QString modelName(Model model);
    static bool modelFromName(const QString &name, Model *model);
    int width() const;
    int height() const;
    int pixelCount() const { return width() * height(); }

    QString name() const { return m_name; }
    QString ttyPath() const { return m_ttyPath; }
    quint16 vendorIdentifier() const { return m_vendorIdentifier; }
    quint16 productIdentifier() const;
    bool isPlugged() const { return m_masterFd >= 0; }

    // Queues bytes for the application through the chunking policy. Never
    // blocks; dropped while unplugged.
    void send(const QByteArray &bytes);
    // Random bytes for the "noise" control line.
    static QByteArray noise(int bytes, int markerEvery, quint32 seed);
    // Bytes queued but not yet taken by the pseudo-terminal (modules that
    // stream use it to skip frames when the application does not read).
    qint64 pendingOutputBytes() const;

    void plug();
    void unplug();
    // Unplug now, plug in again as `newModel` after `delayMs`.
    void reenumerate(Model newModel, int delayMs);
    // The tty dies first; the registry entry follows after entryDelayMs (never if negative).
    void hangup(int entryDelayMs);
    void quit(int exitCode = 0);

    // One transcript line: to the --transcript file and to stdout as "rx <line>".
    void transcriptLine(const QString &line);
    // An event line on stdout ("plugged ...", or a module's own).
    void emitEvent(const QString &line);
    // "23 23 05": uppercase hex bytes separated by single blanks.
    static QString hexLine(const QByteArray &bytes);

signals:
    void modelChanged();
    // Bytes the pseudo-terminal has just taken (a frame is out once its last byte is).
    void bytesWritten(qint64 count);

private:
    void readMaster();
    void writeMaster();
    void processInput();
    void flushGarbage();
    void dispatchCommand(const QByteArray &command);
    void dispatchRaw(SimModule *owner, const QByteArray &packet);
    void readControl();
    void handleControlLine(const QString &line);
    void readSignal();
    void writeStdout(const QByteArray &line);
    void flushStdout(bool block);
    void closePty();
    void setModel(Model model);
    void schedulePieces(const QByteArray &bytes);

    std::vector<SimModule *> m_modules;
    Model m_model = M10;
    QString m_name;
    QString m_ttyPath;
    QString m_registryFolder;
    quint16 m_vendorIdentifier = 0x205F;
    bool m_hasVendorIdentifier = true;
    int m_productOverride = -1; // -1: the model's own, -2: none reported
    bool m_startUnplugged = false;

    int m_masterFd = -1;
    int m_slaveFd = -1; // kept open so the master never sees a hang-up while the app has the port closed
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;

    CommandFramer m_framer;
    QByteArray m_garbage;
    QTimer m_garbageTimer;

    // Output: pieces written one after the other; a gap between pieces when chunking.
    QQueue<QByteArray> m_pieces;
    qint64 m_pendingBytes = 0;
    int m_chunkSize = 0;
    bool m_chunkRandom = false;
    QRandomGenerator m_random;
    QTimer m_gapTimer;

    QTimer m_replugTimer;
    QTimer m_entryRemovalTimer;
    Model m_replugModel = M10;

    QFile m_transcript;
    QByteArray m_controlBuffer;
    QSocketNotifier *m_controlNotifier = nullptr;
    QSocketNotifier *m_signalNotifier = nullptr;
    QSocketNotifier *m_stdoutNotifier = nullptr;
    QByteArray m_stdoutBuffer;
    bool m_stdoutNonBlocking = false;
};

#endif // SIMCAMERA_H
