#include "tests/support/SimProcess.h"

#include "device/PortRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

QString isolateRegistry()
{
    static std::unique_ptr<QTemporaryDir> runtimeDir;
    runtimeDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quarvel-test-XXXXXX"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir->path()));
    const QString folder = PortRegistry::folderPath();
    PortRegistry::ensureFolder(folder);
    return folder;
}

SimProcess::SimProcess(QObject *parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &SimProcess::readOutput);
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(const QStringList &arguments, int timeoutMs)
{
    static int counter = 0;
    QStringList args = arguments;
    const int nameIndex = args.indexOf(QStringLiteral("--name"));
    if (nameIndex >= 0 && nameIndex + 1 < args.size()) {
        m_name = args[nameIndex + 1];
    } else {
        m_name = QStringLiteral("sim-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
        args << QStringLiteral("--name") << m_name;
    }

    const QString program = qEnvironmentVariable("KAVRIX_SIM");
    if (program.isEmpty()) {
        qWarning("KAVRIX_SIM is not set");
        return false;
    }
    m_process.start(program, args);
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    if (args.contains(QStringLiteral("--unplugged")))
        return waitForEvent(QStringLiteral("ready "), timeoutMs);
    return waitFor([this] { return m_plugged; }, timeoutMs);
}

void SimProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.write("quit\n");
        if (!m_process.waitForFinished(3000)) {
            m_process.terminate();
            if (!m_process.waitForFinished(2000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
            }
        }
    }
    readOutput();
    // A killed simulator cannot withdraw its entry.
    if (!m_name.isEmpty())
        PortRegistry::removeEntry(PortRegistry::folderPath(), m_name);
    m_plugged = false;
}

bool SimProcess::plug(int timeoutMs)
{
    return controlAndWait(QStringLiteral("plug"), m_pluggedCount, timeoutMs);
}

bool SimProcess::unplug(int timeoutMs)
{
    return controlAndWait(QStringLiteral("unplug"), m_unpluggedCount, timeoutMs);
}

bool SimProcess::hangup(int entryDelayMs, int timeoutMs)
{
    return controlAndWait(QStringLiteral("hangup %1").arg(entryDelayMs), m_unpluggedCount, timeoutMs);
}

bool SimProcess::reenumerate(const QString &model, int delayMs, int timeoutMs)
{
    return controlAndWait(
        QStringLiteral("reenumerate %1 %2").arg(model).arg(delayMs), m_pluggedCount, timeoutMs);
}

bool SimProcess::controlAndWait(const QString &line, const int &counter, int timeoutMs)
{
    const int before = counter;
    control(line);
    return waitFor([&] { return counter > before; }, timeoutMs);
}

void SimProcess::control(const QString &line)
{
    m_process.write(line.toUtf8() + '\n');
}

bool SimProcess::waitForTranscript(const QString &line, int timeoutMs)
{
    return waitFor([&] { return m_transcript.contains(line); }, timeoutMs);
}

bool SimProcess::waitForEvent(const QString &prefix, int timeoutMs)
{
    auto seen = [&] {
        for (const QString &event : qAsConst(m_events)) {
            if (event.startsWith(prefix))
                return true;
        }
        return false;
    };
    return waitFor(seen, timeoutMs);
}

bool SimProcess::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    return QTest::qWaitFor(
               [&] {
                   readOutput();
                   return condition() || m_process.state() == QProcess::NotRunning;
               },
               timeoutMs)
        && condition();
}

void SimProcess::readOutput()
{
    m_buffer.append(m_process.readAllStandardOutput());
    int newline;
    while ((newline = m_buffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_buffer.left(newline));
        m_buffer.remove(0, newline + 1);
        if (line.startsWith(QLatin1String("rx "))) {
            m_transcript.append(line.mid(3));
            continue;
        }
        m_events.append(line);
        const QStringList words = line.split(QLatin1Char(' '));
        if (words.value(0) == QLatin1String("plugged")) {
            m_plugged = true;
            m_ttyPath = words.value(2);
            ++m_pluggedCount;
        } else if (words.value(0) == QLatin1String("unplugged")) {
            m_plugged = false;
            ++m_unpluggedCount;
        }
        emit eventLine(line);
    }
}
