// firmware-update: command 51 hands the camera to its bootloader, the image
// goes over in the bootloader's packets, every reply is checked, and the job
// ends when the camera is back.

#include "cli/Cli.h"
#include "device/Commands.h"
#include "firmware/BootloaderReplyReader.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareTransfer.h"

#include <QCommandLineParser>

using namespace Cli;

namespace {

constexpr int ReplyTimeoutMs = 5000;

int secondsOption(const QCommandLineParser &parser, const QCommandLineOption &option, int *value)
{
    bool ok = false;
    *value = parser.value(option).toInt(&ok);
    if (!ok || *value < 0) {
        error(QStringLiteral("--%1 must be a whole number of seconds, not \"%2\"")
                  .arg(option.names().first(), parser.value(option)));
        return Exit::Usage;
    }
    return -1;
}

} // namespace

int runFirmwareUpdate(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("The camera's (or bootloader's) port, when several are present."),
        QStringLiteral("name"));
    const QCommandLineOption bootTimeoutOption(QStringLiteral("boot-timeout"),
        QStringLiteral("Seconds to wait for the bootloader after command 51 (default 10)."),
        QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption returnTimeoutOption(QStringLiteral("return-timeout"),
        QStringLiteral("Seconds to wait for the camera to return after the transfer (default 30; 0: do not "
                       "wait)."),
        QStringLiteral("s"), QStringLiteral("30"));
    parser.addOptions({ portOption, bootTimeoutOption, returnTimeoutOption });
    const int parsed = parse(parser, QStringLiteral("firmware-update"),
        QStringLiteral(
            "Sends a firmware image (.bin or .tof, at most 49152 bytes, sent byte for byte) to the "
            "camera's bootloader: command 51, wait for the bootloader, transfer with checked "
            "replies, wait for the camera to return. A camera already in its bootloader is updated "
            "directly."),
        arguments, 1, 1, QStringLiteral("image The firmware file."));
    if (parsed >= 0)
        return parsed;
    int bootTimeout = 0;
    int returnTimeout = 0;
    int result = secondsOption(parser, bootTimeoutOption, &bootTimeout);
    if (result < 0)
        result = secondsOption(parser, returnTimeoutOption, &returnTimeout);
    if (result >= 0)
        return result;

    const QString path = parser.positionalArguments().first();
    const FirmwareFile::LoadResult file = FirmwareFile::load(path);
    if (file.status == FirmwareFile::LoadStatus::OpenFailed) {
        error(QStringLiteral("File open failed: %1: %2").arg(path, file.error));
        return Exit::FileError;
    }
    if (file.status == FirmwareFile::LoadStatus::TooLarge) {
        error(QStringLiteral("Illegal file: %1 has %2 bytes, the bootloader takes at most %3")
                  .arg(path)
                  .arg(file.data.size())
                  .arg(Bootloader::MaxImageSize));
        return Exit::FileError;
    }
    if (file.status != FirmwareFile::LoadStatus::Loaded) {
        error(QStringLiteral("File name is empty"));
        return Exit::Usage;
    }

    QString portName = parser.value(portOption);
    CameraLink link;
    result = link.open(portName, CameraLink::CameraOrBootloader);
    if (result != Exit::Done)
        return result;
    const QString cameraPort = link.port().name;
    quint8 cameraType = link.deviceType();
    if (cameraType != 1) {
        note(QStringLiteral("%1 on %2: handing it to its bootloader (command 51)")
                 .arg(PortDiscovery::modelName(cameraType), cameraPort));
        link.write(Commands::camera(Commands::PrepareFirmwareUpdate));
        link.serialPort()->waitForBytesWritten(500);
        link.close();
        // The camera restarts into its bootloader; a simulated one keeps its
        // name, a real one may come back under another port name.
        result = link.waitAndOpen(portName, CameraLink::Bootloader, bootTimeout * 1000);
        if (result != Exit::Done) {
            if (interrupted())
                return Exit::Interrupted;
            error(QStringLiteral("the bootloader did not appear within %1 s after command 51")
                      .arg(bootTimeout));
            return Exit::CameraLost;
        }
    }
    note(QStringLiteral("bootloader on %1: sending %2 (%3 bytes)")
             .arg(link.port().name, path)
             .arg(file.data.size()));

    FirmwareTransfer transfer;
    BootloaderReplyReader replies;
    bool finished = false;
    bool writeFailed = false;
    QElapsedTimer sinceReply;
    Progress progress(QStringLiteral("packets"), qMax(1, (int(file.data.size()) + 59) / 60));
    const QMetaObject::Connection connection = QObject::connect(&link, &CameraLink::readyRead, [&] {
        const QVector<BootloaderReply> list = replies.feed(link.readAll());
        for (const BootloaderReply &reply : list) {
            if (finished || !transfer.isRunning())
                return;
            const FirmwareTransfer::Step step = transfer.handleReply(reply);
            if (step.bytes.isEmpty())
                continue;
            sinceReply.restart();
            if (!link.write(step.bytes)) {
                writeFailed = true;
                return;
            }
            if (step.finished) {
                finished = true;
                link.serialPort()->waitForBytesWritten(1000);
            }
            progress.update(transfer.packetIndex());
        }
    });
    sinceReply.start();
    link.write(transfer.start(file.data));
    while (!finished && !writeFailed && !link.isLost() && !interrupted()
        && sinceReply.elapsed() < ReplyTimeoutMs)
        waitUntil(100, [&] { return finished || writeFailed || link.isLost(); });
    QObject::disconnect(connection);
    progress.finish();

    if (!finished) {
        const bool lost = link.isLost() || writeFailed;
        if (!lost)
            link.write(Bootloader::command(Bootloader::EndTransfer));
        if (interrupted()) {
            note(QStringLiteral("interrupted; firmware update stopped after %1 packet(s)")
                     .arg(transfer.packetIndex()));
            return Exit::Interrupted;
        }
        error(lost ? QStringLiteral("Connection to the bootloader lost, firmware update stopped")
                   : QStringLiteral("Bootloader not responding, firmware update stopped"));
        return Exit::CameraLost;
    }
    note(QStringLiteral("firmware sent: %1 packet(s), every one acknowledged").arg(transfer.packetIndex()));
    link.close();
    if (returnTimeout == 0)
        return Exit::Done;

    result = link.waitAndOpen(portName, CameraLink::Camera, returnTimeout * 1000);
    if (result != Exit::Done) {
        if (interrupted())
            return Exit::Interrupted;
        error(QStringLiteral("firmware sent, but the camera did not return within %1 s").arg(returnTimeout));
        return Exit::CameraLost;
    }
    note(QStringLiteral("%1 is back on %2")
             .arg(PortDiscovery::modelName(link.deviceType()), link.port().name));
    return Exit::Done;
}
