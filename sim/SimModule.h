#ifndef SIMMODULE_H
#define SIMMODULE_H

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QObject>
#include <QString>
#include <QStringList>

class SimCamera;

// One feature of the simulated camera (streaming, device info, calibration,
// bootloader, ...). The core decodes the byte stream and offers every command
// to the modules in registration order; a module answers through
// camera().send(). All calls happen on the simulator's one thread.
class SimModule : public QObject
{
    Q_OBJECT

public:
    explicit SimModule(SimCamera &camera)
        : m_camera(camera)
    {
    }
    ~SimModule() override = default;

    // A complete framed command (3, 4, 7 or 12 bytes, prefix pair included).
    // Return true when this module handled it; later modules are not asked.
    virtual bool handleCommand(const QByteArray &command)
    {
        Q_UNUSED(command)
        return false;
    }

    // Number of prefix-less bytes this module expects next as ONE raw packet
    // (firmware and LUT data packets), 0 when none. Asked before every item is
    // decoded, so the answer may change after each command or packet.
    virtual int pendingRawBytes() const { return 0; }
    virtual void handleRaw(const QByteArray &packet) { Q_UNUSED(packet) }

    // Command line: declare options before parsing, read them afterwards.
    // Return false with *error set to refuse the command line.
    virtual void addOptions(QCommandLineParser &parser) { Q_UNUSED(parser) }
    virtual bool applyOptions(const QCommandLineParser &parser, QString *error)
    {
        Q_UNUSED(parser)
        Q_UNUSED(error)
        return true;
    }

    // A control line from stdin, split at blanks, that the core did not know.
    // Return true when handled.
    virtual bool handleControl(const QStringList &words)
    {
        Q_UNUSED(words)
        return false;
    }

    // The virtual USB device appeared / vanished (output is dropped while unplugged).
    virtual void plugged() { }
    virtual void unplugged() { }
    // The camera re-enumerated as another model (called while unplugged, before plugged()).
    virtual void modelChanged() { }

protected:
    SimCamera &camera() const { return m_camera; }

    // Reads a decimal option of at least `minimum` into *value; otherwise sets
    // *error to name the option and its text and returns false.
    static bool readIntOption(const QCommandLineParser &parser, const QCommandLineOption &option, int minimum,
        int *value, QString *error)
    {
        bool ok = false;
        const int v = parser.value(option).toInt(&ok);
        if (!ok || v < minimum) {
            *error = QStringLiteral("invalid --%1 \"%2\"").arg(option.names().first(), parser.value(option));
            return false;
        }
        *value = v;
        return true;
    }

private:
    SimCamera &m_camera;
};

#endif // SIMMODULE_H
