// list and info, and the device-information query the other jobs share.

#include "cli/Cli.h"
#include "device/Commands.h"
#include "device/DeviceState.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Cli {

int queryDeviceInfo(CameraLink &link, DeviceInfoData *data)
{
    const int pixels = link.deviceType() == 2 ? 160 * 60 : 320 * 240;
    DeviceInfoReplyReader reader(pixels);
    bool received = false;
    const QMetaObject::Connection connection = QObject::connect(&link, &CameraLink::readyRead, [&] {
        if (reader.append(link.readAll()))
            received = true;
    });
    for (int attempt = 0; attempt < 2 && !received && !link.isLost() && !interrupted(); ++attempt) {
        link.write(Commands::camera(Commands::GetDeviceInfo));
        waitUntil(1500, [&] { return received || link.isLost(); });
    }
    QObject::disconnect(connection);
    if (received) {
        *data = reader.reply();
        return Exit::Done;
    }
    if (interrupted())
        return Exit::Interrupted;
    if (link.isLost()) {
        error(QStringLiteral("camera lost (%1 was unplugged) while reading its device information")
                  .arg(link.port().name));
        return Exit::CameraLost;
    }
    error(QStringLiteral("Get device info failed! (%1 does not answer)").arg(link.port().name));
    return Exit::CameraLost;
}

LensValues lensInUse(const DeviceInfoData &data, quint8 deviceType)
{
    DeviceState state;
    DeviceInfoReply::applyTo(state, data);
    DeviceInfoReply::summaryLines(state, deviceType); // applies the defaults when there are no lens values
    LensValues lens;
    lens.factor = state.cameraFactor;
    lens.cx = state.cameraCx;
    lens.cy = state.cameraCy;
    lens.fx = state.cameraFx;
    lens.fy = state.cameraFy;
    return lens;
}

} // namespace Cli

using namespace Cli;

namespace {

const QCommandLineOption PortOption(QStringLiteral("port"),
    QStringLiteral("The camera's port, when several are present (see quarvel-cli list)."),
    QStringLiteral("name"));
const QCommandLineOption JsonOption(QStringLiteral("json"), QStringLiteral("Print JSON for scripts."));

QString versionText(int version)
{
    return QStringLiteral("%1.%2.%3").arg(version / 100).arg((version / 10) % 10).arg(version % 10);
}

} // namespace

int runList(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption(JsonOption);
    const int parsed = parse(parser, QStringLiteral("list"),
        QStringLiteral("Lists every Kavrix camera and bootloader port found (simulated ones included): port, "
                       "USB vendor:product identifiers, model. Prints nothing when none is found."),
        arguments, 0, 0);
    if (parsed >= 0)
        return parsed;

    const QList<DiscoveredPort> ports = PortDiscovery::cameraPorts(registryFolder());
    if (parser.isSet(JsonOption)) {
        QJsonArray array;
        for (const DiscoveredPort &port : ports) {
            array.append(QJsonObject {
                { QStringLiteral("port"), port.name },
                { QStringLiteral("device"), port.location },
                { QStringLiteral("vendorId"), QString::asprintf("%04x", port.vendorIdentifier) },
                { QStringLiteral("productId"), QString::asprintf("%04x", port.productIdentifier) },
                { QStringLiteral("model"), PortDiscovery::modelName(port.deviceType) },
                { QStringLiteral("deviceType"), port.deviceType },
                { QStringLiteral("simulated"), port.simulated },
                { QStringLiteral("busy"), port.isBusy() },
            });
        }
        out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
        return Exit::Done;
    }
    for (const DiscoveredPort &port : ports) {
        out(QStringLiteral("%1\t%2:%3\t%4%5")
                .arg(port.name)
                .arg(port.vendorIdentifier, 4, 16, QLatin1Char('0'))
                .arg(port.productIdentifier, 4, 16, QLatin1Char('0'))
                .arg(PortDiscovery::modelName(port.deviceType))
                .arg(port.isBusy() ? QStringLiteral("\t(busy)") : QString()));
    }
    return Exit::Done;
}

int runInfo(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({ PortOption, JsonOption });
    const int parsed = parse(parser, QStringLiteral("info"),
        QStringLiteral("Reads the camera's device information and prints the summary the window shows; "
                       "--json gives every decoded field."),
        arguments, 0, 0);
    if (parsed >= 0)
        return parsed;

    CameraLink link;
    int result = link.open(parser.value(PortOption), CameraLink::Camera);
    if (result != Exit::Done)
        return result;
    DeviceInfoData data;
    result = queryDeviceInfo(link, &data);
    if (result != Exit::Done)
        return result;

    const quint8 type = link.deviceType();
    if (parser.isSet(JsonOption)) {
        const LensValues used = lensInUse(data, type);
        const QJsonObject object {
            { QStringLiteral("port"), link.port().name },
            { QStringLiteral("model"), PortDiscovery::modelName(type) },
            { QStringLiteral("deviceType"), type },
            { QStringLiteral("identityWord"), data.identityWord },
            { QStringLiteral("machineID"), data.machineID() },
            { QStringLiteral("modFreq"), data.modFreq() },
            { QStringLiteral("waferID"), data.waferID },
            { QStringLiteral("chipID"), data.chipID },
            { QStringLiteral("hardwareVersion"), versionText(data.hardwareVersion) },
            { QStringLiteral("hardwareVersionCode"), data.hardwareVersion },
            { QStringLiteral("firmwareVersion"), versionText(data.firmwareVersion) },
            { QStringLiteral("firmwareVersionCode"), data.firmwareVersion },
            { QStringLiteral("drnuLutAvailable"), data.drnuLutAvailable },
            { QStringLiteral("lensParamAvailable"), data.lensParamAvailable },
            { QStringLiteral("lutInfoPresent"), data.lutInfoPresent },
            { QStringLiteral("lutInfo"), QJsonArray { data.lutInfo1, data.lutInfo2, data.lutInfo3 } },
            { QStringLiteral("lens"),
                QJsonObject { { QStringLiteral("factor"), data.cameraFactorX10 / 10.0 },
                    { QStringLiteral("cx"), data.cameraCxX100 / 100.0 },
                    { QStringLiteral("cy"), data.cameraCyX100 / 100.0 },
                    { QStringLiteral("fx"), data.cameraFxX100 / 100.0 },
                    { QStringLiteral("fy"), data.cameraFyX100 / 100.0 } } },
            { QStringLiteral("lensInUse"),
                QJsonObject { { QStringLiteral("factor"), used.factor }, { QStringLiteral("cx"), used.cx },
                    { QStringLiteral("cy"), used.cy }, { QStringLiteral("fx"), used.fx },
                    { QStringLiteral("fy"), used.fy } } },
        };
        out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)).trimmed());
        return Exit::Done;
    }
    DeviceState state;
    DeviceInfoReply::applyTo(state, data);
    out(QStringLiteral("%1 on %2").arg(PortDiscovery::modelName(type), link.port().name));
    const QStringList lines = DeviceInfoReply::summaryLines(state, type);
    for (const QString &line : lines)
        out(line);
    return Exit::Done;
}
