#include "sim/DeviceInfoModule.h"

#include "deviceinfo/LensPacket.h"
#include "sim/SimCamera.h"

#include <QCommandLineParser>
#include <QTimer>

namespace {

const QByteArray Marker = QByteArrayLiteral("*##*");

const QCommandLineOption IdentityOption(QStringLiteral("info-identity"),
    QStringLiteral("Device info: identity word, machine ID + modulation frequency (default 10024)."),
    QStringLiteral("word"), QStringLiteral("10024"));
const QCommandLineOption WaferOption(QStringLiteral("info-wafer"),
    QStringLiteral("Device info: wafer ID (default 5)."), QStringLiteral("n"), QStringLiteral("5"));
const QCommandLineOption ChipOption(QStringLiteral("info-chip"),
    QStringLiteral("Device info: chip ID (default 1234)."), QStringLiteral("n"), QStringLiteral("1234"));
const QCommandLineOption HardwareOption(QStringLiteral("info-hw"),
    QStringLiteral("Device info: hardware version, 123 reads 1.2.3 (default 123)."), QStringLiteral("n"),
    QStringLiteral("123"));
const QCommandLineOption FirmwareOption(QStringLiteral("info-fw"),
    QStringLiteral("Device info: firmware version (default 201)."), QStringLiteral("n"),
    QStringLiteral("201"));
const QCommandLineOption DrnuOption(QStringLiteral("info-drnu"),
    QStringLiteral("Device info: DRNU LUT flag byte (default 0)."), QStringLiteral("n"), QStringLiteral("0"));
const QCommandLineOption LensOption(QStringLiteral("info-lens"),
    QStringLiteral("Device info: lens parameter flag byte (default 0)."), QStringLiteral("n"),
    QStringLiteral("0"));
const QCommandLineOption LensValuesOption(QStringLiteral("info-lens-values"),
    QStringLiteral("Device info: stored lens values factor,cx,cy,fx,fy."), QStringLiteral("list"));
const QCommandLineOption LutOption(QStringLiteral("info-lut"),
    QStringLiteral("Device info: the three LUT info words a,b,c (marks them valid)."),
    QStringLiteral("list"));
const QCommandLineOption LutPresentOption(QStringLiteral("info-lut-present"),
    QStringLiteral("Device info: LUT info present word (1 marks the words valid)."), QStringLiteral("n"));
const QCommandLineOption SizeOption(QStringLiteral("info-size"),
    QStringLiteral("Device info: block size, small (4 + 19200) or frame (4 + 2 x pixels)."),
    QStringLiteral("size"), QStringLiteral("small"));
const QCommandLineOption ModeOption(QStringLiteral("info-mode"),
    QStringLiteral("Device info: normal, silent (never answers), bad-status or bad-length."),
    QStringLiteral("mode"), QStringLiteral("normal"));
const QCommandLineOption DelayOption(QStringLiteral("info-delay"),
    QStringLiteral("Device info: answer after this many milliseconds (default 0)."), QStringLiteral("ms"),
    QStringLiteral("0"));

bool readNumber(const QCommandLineParser &parser, const QCommandLineOption &option, int maximum, int *value,
    QString *error)
{
    bool ok = false;
    const int v = parser.value(option).toInt(&ok, 0);
    if (!ok || v < 0 || v > maximum) {
        *error = QStringLiteral("invalid value \"%1\" for --%2")
                     .arg(parser.value(option), option.names().first());
        return false;
    }
    *value = v;
    return true;
}

bool readList(const QString &text, int count, QVector<double> *values)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return false;
    values->clear();
    for (const QString &part : parts) {
        bool ok = false;
        const double v = part.trimmed().toDouble(&ok);
        if (!ok || v < 0)
            return false;
        values->append(v);
    }
    return true;
}

} // namespace

DeviceInfoModule::DeviceInfoModule(SimCamera &camera)
    : SimModule(camera)
{
}

void DeviceInfoModule::addOptions(QCommandLineParser &parser)
{
    parser.addOptions({ IdentityOption, WaferOption, ChipOption, HardwareOption, FirmwareOption, DrnuOption,
        LensOption, LensValuesOption, LutOption, LutPresentOption, SizeOption, ModeOption, DelayOption });
}

bool DeviceInfoModule::modeFromName(const QString &name, Mode *mode)
{
    static const struct
    {
        const char *name;
        Mode mode;
    } modes[] = { { "normal", Normal }, { "silent", Silent }, { "bad-status", BadStatus },
        { "bad-length", BadLength } };
    for (const auto &m : modes) {
        if (name == QLatin1String(m.name)) {
            *mode = m.mode;
            return true;
        }
    }
    return false;
}

bool DeviceInfoModule::applyOptions(const QCommandLineParser &parser, QString *error)
{
    int value = 0;
    if (!readNumber(parser, IdentityOption, 0xFFFF, &value, error))
        return false;
    m_data.identityWord = quint16(value);
    if (!readNumber(parser, WaferOption, 0xFFFF, &m_data.waferID, error)
        || !readNumber(parser, ChipOption, 0xFFFF, &m_data.chipID, error)
        || !readNumber(parser, HardwareOption, 0xFFFF, &m_data.hardwareVersion, error)
        || !readNumber(parser, FirmwareOption, 0xFFFF, &m_data.firmwareVersion, error)
        || !readNumber(parser, DrnuOption, 0xFF, &m_data.drnuLutAvailable, error)
        || !readNumber(parser, LensOption, 0xFF, &m_data.lensParamAvailable, error)
        || !readNumber(parser, DelayOption, 60000, &m_delayMs, error))
        return false;

    if (parser.isSet(LensValuesOption)) {
        QVector<double> v;
        if (!readList(parser.value(LensValuesOption), 5, &v)) {
            *error = QStringLiteral("invalid lens values \"%1\"").arg(parser.value(LensValuesOption));
            return false;
        }
        m_data.cameraFactorX10 = LensPacket::scaled(v[0], 10);
        m_data.cameraCxX100 = LensPacket::scaled(v[1], 100);
        m_data.cameraCyX100 = LensPacket::scaled(v[2], 100);
        m_data.cameraFxX100 = LensPacket::scaled(v[3], 100);
        m_data.cameraFyX100 = LensPacket::scaled(v[4], 100);
    }
    if (parser.isSet(LutOption)) {
        QVector<double> v;
        if (!readList(parser.value(LutOption), 3, &v) || v[0] > 0xFFFF || v[1] > 0xFFFF || v[2] > 0xFFFF) {
            *error = QStringLiteral("invalid LUT info \"%1\"").arg(parser.value(LutOption));
            return false;
        }
        m_data.lutInfoPresent = 1;
        m_data.lutInfo1 = int(v[0]);
        m_data.lutInfo2 = int(v[1]);
        m_data.lutInfo3 = int(v[2]);
    }
    if (parser.isSet(LutPresentOption)
        && !readNumber(parser, LutPresentOption, 0xFFFF, &m_data.lutInfoPresent, error))
        return false;

    const QString size = parser.value(SizeOption);
    if (size != QLatin1String("small") && size != QLatin1String("frame")) {
        *error = QStringLiteral("invalid info size \"%1\"").arg(size);
        return false;
    }
    m_frameSized = size == QLatin1String("frame");
    if (!modeFromName(parser.value(ModeOption), &m_mode)) {
        *error = QStringLiteral("invalid info mode \"%1\"").arg(parser.value(ModeOption));
        return false;
    }
    return true;
}

bool DeviceInfoModule::handleControl(const QStringList &words)
{
    if (words.size() != 3 || words[0] != QLatin1String("info"))
        return false;
    if (words[1] == QLatin1String("mode"))
        return modeFromName(words[2], &m_mode);
    bool ok = false;
    const int value = words[2].toInt(&ok);
    if (!ok || value < 0)
        return false;
    if (words[1] == QLatin1String("delay") && value <= 60000) {
        m_delayMs = value;
        return true;
    }
    if (words[1] == QLatin1String("identity") && value <= 0xFFFF) {
        m_data.identityWord = quint16(value);
        return true;
    }
    return false;
}

bool DeviceInfoModule::handleCommand(const QByteArray &command)
{
    if (camera().model() == SimCamera::Bootloader)
        return false;
    if (command.size() == 3 && command.at(0) == 0x23 && command.at(1) == 0x23 && command.at(2) == 1) {
        answerQuery();
        return true;
    }
    if (command.size() == LensPacket::PacketLength && command.at(0) == 0x28) {
        storeLensPacket(command);
        return true;
    }
    return false;
}

QByteArray DeviceInfoModule::replyBytes() const
{
    int length = m_frameSized ? 2 * camera().pixelCount() + 4 : DeviceInfoReply::SmallBlockLength;
    quint8 status = DeviceInfoReply::ReplyStatus;
    if (m_mode == BadStatus)
        status = 0;
    else if (m_mode == BadLength)
        length -= 1;
    return DeviceInfoReply::encodeBlock(m_data, length, status) + Marker;
}

void DeviceInfoModule::answerQuery()
{
    camera().emitEvent(QStringLiteral("info query"));
    if (m_mode == Silent) {
        camera().emitEvent(QStringLiteral("info silent"));
        return;
    }
    const QByteArray reply = replyBytes();
    const QString event = QStringLiteral("info reply %1 %2")
                              .arg(reply.size() - Marker.size())
                              .arg(quint8(reply.at(reply.size() - Marker.size() - 1)));
    if (m_delayMs <= 0) {
        camera().send(reply);
        camera().emitEvent(event);
        return;
    }
    // An unplug in between loses the answer, as it would on a real camera.
    QTimer::singleShot(m_delayMs, this, [this, reply, event] {
        if (!camera().isPlugged())
            return;
        camera().send(reply);
        camera().emitEvent(event);
    });
}

void DeviceInfoModule::storeLensPacket(const QByteArray &packet)
{
    camera().emitEvent(QStringLiteral("lens packet ") + SimCamera::hexLine(packet));
    const auto word = [&packet](int offset) {
        return int(quint8(packet.at(offset))) | (int(quint8(packet.at(offset + 1))) << 8);
    };
    m_data.cameraFactorX10 = word(2);
    m_data.cameraCxX100 = word(4);
    m_data.cameraCyX100 = word(6);
    m_data.cameraFxX100 = word(8);
    m_data.cameraFyX100 = word(10);
    m_data.lensParamAvailable = 1;
}
