#include "sim/CalibrationModule.h"

#include "device/Crc16.h"
#include "sim/CalibrationScene.h"
#include "sim/SimCamera.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

namespace {

const QCommandLineOption FpsOption(QStringLiteral("calib-fps"),
    QStringLiteral("Calibration step frames per second (default 30)."), QStringLiteral("n"),
    QStringLiteral("30"));
const QCommandLineOption StepsOption(QStringLiteral("calib-steps"),
    QStringLiteral("DLL step count announced in the parameters frame (default 23)."), QStringLiteral("n"),
    QStringLiteral("23"));
const QCommandLineOption OutputOption(QStringLiteral("calib-output"),
    QStringLiteral("Write the received DRNU table and information values to this file."),
    QStringLiteral("file"));
const QCommandLineOption DropAckOption(QStringLiteral("calib-drop-ack"),
    QStringLiteral("Never acknowledge the epc660 LUT packet with this index."), QStringLiteral("k"),
    QStringLiteral("-1"));
const QCommandLineOption AckDelayOption(QStringLiteral("calib-ack-delay"),
    QStringLiteral("Milliseconds before each acknowledgement (default 0)."), QStringLiteral("ms"),
    QStringLiteral("0"));

constexpr int Epc635PacketSize = 64;
constexpr int Epc635InfoSize = 13;
constexpr int Epc660PacketSize = 2048;
constexpr int Epc660Values = 1022;
constexpr int StepCount = 23;

} // namespace

CalibrationModule::CalibrationModule(SimCamera &camera)
    : SimModule(camera)
{
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &CalibrationModule::sendStepFrame);
}

void CalibrationModule::addOptions(QCommandLineParser &parser)
{
    parser.addOptions({ FpsOption, StepsOption, OutputOption, DropAckOption, AckDelayOption });
}

bool CalibrationModule::applyOptions(const QCommandLineParser &parser, QString *error)
{
    if (!readIntOption(parser, FpsOption, 1, &m_fps, error)
        || !readIntOption(parser, StepsOption, 0, &m_announcedSteps, error)
        || !readIntOption(parser, DropAckOption, -1, &m_dropAck, error)
        || !readIntOption(parser, AckDelayOption, 0, &m_ackDelayMs, error))
        return false;
    m_outputPath = parser.value(OutputOption);
    return true;
}

bool CalibrationModule::handleControl(const QStringList &words)
{
    if (words.size() == 2 && words[0] == QLatin1String("calib") && words[1] == QLatin1String("stats")) {
        camera().emitEvent(QStringLiteral("calib stats frames %1 packets %2 errors %3")
                               .arg(m_framesSent)
                               .arg(m_packets)
                               .arg(m_errors));
        return true;
    }
    return false;
}

bool CalibrationModule::handleCommand(const QByteArray &command)
{
    if (camera().model() == SimCamera::Bootloader || command.size() != 3 || command.at(0) != 0x23
        || command.at(1) != 0x23)
        return false;
    switch (quint8(command.at(2))) {
    case 9:
        startSweep();
        return true;
    case 10:
        if (m_sweeping) {
            // The DLL has 23 positions; a step past the last stays there.
            m_step = qMin(m_step + 1, StepCount - 1);
            m_frameInStep = 0;
            camera().emitEvent(QStringLiteral("calib step %1").arg(m_step));
        }
        return true;
    case 3:
        stopSweep();
        return false; // the frame stream stops as well
    case 13:
        stopSweep();
        camera().emitEvent(QStringLiteral("calib save"));
        beginReception();
        return true;
    default:
        return false;
    }
}

void CalibrationModule::startSweep()
{
    m_sweeping = true;
    m_step = 0;
    m_frameInStep = 0;
    camera().emitEvent(QStringLiteral("calib start"));
    const QVector<quint16> zeros(camera().pixelCount(), 0);
    camera().send(frameBlock(zeros, quint16(CalibrationScene::DllRange), quint8(m_announcedSteps), 5));
    m_frameTimer.start(qMax(1, 1000 / m_fps));
}

void CalibrationModule::stopSweep()
{
    if (!m_sweeping)
        return;
    m_sweeping = false;
    m_frameTimer.stop();
    camera().emitEvent(QStringLiteral("calib stop"));
}

QByteArray CalibrationModule::frameBlock(
    const QVector<quint16> &pixels, quint16 value, quint8 step, quint8 status) const
{
    QByteArray block(2 * pixels.size() + 8, '\0');
    char *data = block.data();
    for (int p = 0; p < pixels.size(); ++p)
        qToLittleEndian<quint16>(pixels[p], data + 2 * p);
    char *trailer = data + 2 * pixels.size();
    qToLittleEndian<quint16>(value, trailer);
    trailer[2] = char(step);
    trailer[3] = char(status);
    memcpy(trailer + 4, "*##*", 4);
    return block;
}

void CalibrationModule::sendStepFrame()
{
    if (!m_sweeping || !camera().isPlugged())
        return;
    const int n = camera().pixelCount();
    // The application is not reading: skip the frame rather than queue it.
    if (camera().pendingOutputBytes() > qint64(4) * n)
        return;
    QVector<quint16> pixels(n);
    for (int p = 0; p < n; ++p)
        pixels[p] = quint16(CalibrationScene::measuredDistance(m_step, p, m_frameInStep));
    camera().send(
        frameBlock(pixels, quint16(CalibrationScene::temperature(m_step, m_frameInStep)), quint8(m_step), 6));
    ++m_frameInStep;
    ++m_framesSent;
}

void CalibrationModule::beginReception()
{
    m_packetIndex = 0;
    m_errors = 0;
    m_info.clear();
    m_table.fill(0, StepCount * camera().pixelCount());
    switch (camera().model()) {
    case SimCamera::M10:
        m_reception = Reception::Epc635;
        break;
    case SimCamera::M20:
        m_reception = Reception::Epc660;
        break;
    default:
        m_reception = Reception::None;
        break;
    }
}

int CalibrationModule::pendingRawBytes() const
{
    switch (m_reception) {
    case Reception::Epc635:
        return Epc635PacketSize;
    case Reception::Epc635Info:
        return Epc635InfoSize;
    case Reception::Epc660:
        return Epc660PacketSize;
    case Reception::None:
        break;
    }
    return 0;
}

void CalibrationModule::handleRaw(const QByteArray &packet)
{
    ++m_packets;
    switch (m_reception) {
    case Reception::Epc635:
        receiveEpc635(packet);
        break;
    case Reception::Epc635Info:
        receiveEpc635Info(packet);
        break;
    case Reception::Epc660:
        receiveEpc660(packet);
        break;
    case Reception::None:
        break;
    }
}

qint32 CalibrationModule::decode(const char *bytes)
{
    return qint32(qFromLittleEndian<quint16>(bytes)) - 10000;
}

void CalibrationModule::error(const QString &what)
{
    ++m_errors;
    camera().emitEvent(QStringLiteral("calib lut error ") + what);
}

void CalibrationModule::receiveEpc635(const QByteArray &packet)
{
    const int n = camera().pixelCount();
    const int perStep = n / 30;
    const int step = m_packetIndex / perStep;
    const int number = m_packetIndex % perStep + 1;
    const char *data = packet.constData();
    const int gotNumber = qFromLittleEndian<quint16>(data + 60);
    if (data[63] != '#' || quint8(data[62]) != step || gotNumber != number) {
        error(QStringLiteral("packet %1: step %2 number %3 end %4, expected step %5 number %6")
                  .arg(m_packetIndex)
                  .arg(quint8(data[62]))
                  .arg(gotNumber)
                  .arg(quint8(data[63]))
                  .arg(step)
                  .arg(number));
    } else {
        for (int i = 0; i < 30; ++i)
            m_table[step * n + (number - 1) * 30 + i] = decode(data + 2 * i);
    }
    if (++m_packetIndex == StepCount * perStep)
        m_reception = Reception::Epc635Info;
}

void CalibrationModule::receiveEpc635Info(const QByteArray &packet)
{
    const char *data = packet.constData();
    if (data[12] != '$')
        error(QStringLiteral("information packet ends with %1").arg(quint8(data[12])));
    for (int i = 0; i < 6; ++i)
        m_info << decode(data + 2 * i);
    finishReception();
}

void CalibrationModule::receiveEpc660(const QByteArray &packet)
{
    const int total = m_table.size();
    const int count = qMin(Epc660Values, total - m_packetIndex * Epc660Values);
    const char *data = packet.constData();
    const quint16 crc = crc16Xmodem(data, 2044);
    const quint16 gotCrc = quint16(quint8(data[2044]) << 8 | quint8(data[2045]));
    if (data[2047] != '#' || quint8(data[2046]) != quint8(m_packetIndex & 0xFF) || crc != gotCrc
        || count <= 0) {
        // A bad packet is not acknowledged; the application has to notice.
        error(QStringLiteral("packet %1: index %2 crc %3 expected %4")
                  .arg(m_packetIndex)
                  .arg(quint8(data[2046]))
                  .arg(gotCrc, 4, 16, QLatin1Char('0'))
                  .arg(crc, 4, 16, QLatin1Char('0')));
        return;
    }
    for (int i = 0; i < count; ++i)
        m_table[m_packetIndex * Epc660Values + i] = decode(data + 2 * i);
    const bool last = m_packetIndex * Epc660Values + count == total;
    if (last && 2 * count + 10 <= 2043) {
        for (int i = 0; i < 5; ++i)
            m_info << decode(data + 2 * count + 2 * i);
    }

    const int index = m_packetIndex++;
    if (index == m_dropAck) {
        camera().emitEvent(QStringLiteral("calib ack dropped %1").arg(index));
    } else {
        QByteArray ack("\x45\x45\x02", 3);
        ack.append(char(index & 0xFF));
        ack.append(char((index >> 8) & 0xFF));
        ack.append("*##*");
        if (m_ackDelayMs > 0)
            QTimer::singleShot(m_ackDelayMs, this, [this, ack] { camera().send(ack); });
        else
            camera().send(ack);
    }
    if (last)
        finishReception();
}

void CalibrationModule::finishReception()
{
    const bool m10 = m_reception == Reception::Epc635Info;
    m_reception = Reception::None;
    camera().emitEvent(QStringLiteral("calib lut done %1 %2").arg(m_table.size()).arg(m_errors));
    if (m_outputPath.isEmpty())
        return;

    QByteArray text;
    text.reserve(m_table.size() * 7 + 128);
    text += m10 ? "model m10\n" : "model m20\n";
    text += "errors " + QByteArray::number(m_errors) + "\n";
    text += "info";
    for (qint32 value : qAsConst(m_info))
        text += ' ' + QByteArray::number(value);
    text += "\nvalues " + QByteArray::number(m_table.size()) + "\n";
    for (qint32 value : qAsConst(m_table)) {
        text += QByteArray::number(value);
        text += '\n';
    }
    QSaveFile file(m_outputPath);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        camera().emitEvent(QStringLiteral("calib written ") + m_outputPath);
    else
        camera().emitEvent(QStringLiteral("calib write failed ") + file.errorString());
}

void CalibrationModule::unplugged()
{
    stopSweep();
    m_reception = Reception::None;
}

void CalibrationModule::modelChanged()
{
    stopSweep();
    m_reception = Reception::None;
}
