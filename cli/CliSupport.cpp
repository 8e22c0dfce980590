#include "cli/Cli.h"

#include "device/PortRegistry.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace Cli {

namespace {

int s_signalFds[2] = { -1, -1 };
bool s_interrupted = false;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(s_signalFds[0], &byte, 1);
    errno = savedErrno;
}

QString formatDuration(double seconds)
{
    const qint64 s = qint64(seconds + 0.5);
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

void error(const QString &text)
{
    std::fprintf(stderr, "quarvel-cli: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

void note(const QString &text)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

void out(const QString &text)
{
    std::fprintf(stdout, "%s\n", qUtf8Printable(text));
    std::fflush(stdout);
}

void installInterruptHandler()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_signalFds) != 0)
        return;
    auto *notifier = new QSocketNotifier(s_signalFds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte;
        while (::read(s_signalFds[1], &byte, 1) == 1)
            s_interrupted = true;
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction(signalNumber, &action, nullptr);
    // A closed pipe on stdout must end a write with an error, not the process.
    std::signal(SIGPIPE, SIG_IGN);
}

bool interrupted()
{
    return s_interrupted;
}

bool waitUntil(int milliseconds, const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (s_interrupted)
            return false;
        const qint64 left = milliseconds - clock.elapsed();
        if (left <= 0)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, int(qMin<qint64>(left, 50)));
    }
    return true;
}

QString registryFolder()
{
    return PortRegistry::folderPath();
}

int parse(QCommandLineParser &parser, const QString &command, const QString &description,
    const QStringList &arguments, int minPositional, int maxPositional, const QString &positionalHelp)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    if (!positionalHelp.isEmpty())
        parser.addPositionalArgument(positionalHelp.section(QLatin1Char(' '), 0, 0),
            positionalHelp.section(QLatin1Char(' '), 1), positionalHelp.section(QLatin1Char(' '), 0, 0));
    // The subcommand's name stands where the parser expects the program's.
    QStringList args = arguments;
    args.removeAt(1);
    if (!parser.parse(args)) {
        error(parser.errorText() + QStringLiteral(" (see quarvel-cli %1 --help)").arg(command));
        return Exit::Usage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        help.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
            QStringLiteral("Usage: quarvel-cli ") + command);
        std::fputs(qUtf8Printable(help), stdout);
        return Exit::Done;
    }
    const int count = parser.positionalArguments().size();
    if (count < minPositional || count > maxPositional) {
        error(count < minPositional ? QStringLiteral("%1 needs %2 (see quarvel-cli %1 --help)")
                                          .arg(command, positionalHelp.section(QLatin1Char(' '), 0, 0))
                                    : QStringLiteral("unexpected argument \"%1\" (see quarvel-cli %2 --help)")
                                          .arg(parser.positionalArguments().last(), command));
        return Exit::Usage;
    }
    return -1;
}

// ---------------------------------------------------------------------------

Progress::Progress(const QString &unit, qint64 total)
    : m_unit(unit)
    , m_total(total)
    , m_terminal(::isatty(STDERR_FILENO) == 1)
{
    m_clock.start();
}

QString Progress::line(
    const QString &unit, qint64 done, qint64 total, double fraction, double elapsedSeconds, int barWidth)
{
    if (fraction < 0 && total > 0)
        fraction = double(done) / double(total);
    fraction = qBound(-1.0, fraction, 1.0);
    QString text = total > 0 ? QStringLiteral("%1/%2 %3").arg(done).arg(total).arg(unit)
                             : QStringLiteral("%1 %2").arg(done).arg(unit);
    if (barWidth > 0 && fraction >= 0) {
        const int filled = int(fraction * barWidth);
        text = QStringLiteral("[") + QString(filled, QLatin1Char('#'))
            + QString(barWidth - filled, QLatin1Char('.')) + QStringLiteral("] ") + text;
    }
    if (elapsedSeconds > 0)
        text += QStringLiteral(", %1 %2/s").arg(done / elapsedSeconds, 0, 'f', 1).arg(unit);
    if (fraction > 0 && elapsedSeconds > 0)
        text += QStringLiteral(", %1 left").arg(formatDuration(elapsedSeconds * (1.0 - fraction) / fraction));
    return text;
}

void Progress::update(qint64 done, double fraction)
{
    m_done = done;
    m_fraction = fraction;
    const qint64 now = m_clock.elapsed();
    const int interval = m_terminal ? 100 : 2000;
    if (m_lastShown >= 0 && now - m_lastShown < interval)
        return;
    m_lastShown = now;
    const QString text = line(m_unit, done, m_total, fraction, now / 1000.0, m_terminal ? 30 : 0);
    if (m_terminal) {
        std::fprintf(stderr, "\r%s\033[K", qUtf8Printable(text));
        std::fflush(stderr);
        m_drawn = true;
    } else {
        note(text);
    }
}

void Progress::finish()
{
    if (m_terminal && m_drawn) {
        const QString text = line(m_unit, m_done, m_total, m_fraction, m_clock.elapsed() / 1000.0, 30);
        std::fprintf(stderr, "\r%s\033[K\n", qUtf8Printable(text));
        std::fflush(stderr);
        m_drawn = false;
    }
}

// ---------------------------------------------------------------------------

CameraLink::CameraLink()
{
    connect(&m_serial, &QSerialPort::readyRead, this, &CameraLink::readyRead);
    connect(&m_serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (!m_serial.isOpen() || m_lost)
            return;
        if (error == QSerialPort::ResourceError
            || (error == QSerialPort::ReadError && PortDiscovery::hungUp(&m_serial)))
            markLost();
    });
    m_watch.setInterval(250);
    connect(&m_watch, &QTimer::timeout, this, &CameraLink::checkStillThere);
}

CameraLink::~CameraLink()
{
    close();
}

int CameraLink::tryOpen(const QString &portName, Want want, bool quiet)
{
    const QList<DiscoveredPort> ports = PortDiscovery::cameraPorts(registryFolder());
    QList<DiscoveredPort> matching;
    for (const DiscoveredPort &port : ports) {
        const int kind = port.deviceType == 1 ? Bootloader : Camera;
        if (!portName.isEmpty() && port.name != portName && port.location != portName)
            continue;
        if (kind & want)
            matching.append(port);
    }
    if (matching.isEmpty()) {
        if (!quiet) {
            QString text = portName.isEmpty() ? QStringLiteral("no Kavrix camera found")
                                              : QStringLiteral("no Kavrix camera on port %1").arg(portName);
            if (want == Bootloader)
                text.replace(QStringLiteral("Kavrix camera"), QStringLiteral("bootloader"));
            for (const DiscoveredPort &port : ports) {
                if ((portName.isEmpty() || port.name == portName) && port.deviceType == 1 && want == Camera)
                    text += QStringLiteral(" (%1 is in its bootloader)").arg(port.name);
            }
            error(text);
        }
        return Exit::NoCamera;
    }
    if (matching.size() > 1 && portName.isEmpty() && !quiet)
        note(QStringLiteral("%1 cameras found, using %2 (choose one with --port)")
                 .arg(matching.size())
                 .arg(matching.first().name));
    const DiscoveredPort port = matching.first();
    port.applyTo(&m_serial);
    if (!m_serial.open(QIODevice::ReadWrite)) {
        if (!quiet)
            error(port.isBusy()
                    ? QStringLiteral("port %1 is busy (another program has it open)").arg(port.name)
                    : QStringLiteral("cannot open port %1: %2").arg(port.name, m_serial.errorString()));
        return Exit::NoCamera;
    }
    m_port = port;
    m_lost = false;
    m_watch.start();
    return Exit::Done;
}

int CameraLink::open(const QString &portName, Want want)
{
    close();
    return tryOpen(portName, want, false);
}

int CameraLink::waitAndOpen(const QString &portName, Want want, int milliseconds)
{
    close();
    int result = Exit::NoCamera;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        result = tryOpen(portName, want, true);
        if (result == Exit::Done || clock.elapsed() >= milliseconds || interrupted())
            return result;
        waitUntil(200, [] { return false; });
    }
}

void CameraLink::close()
{
    m_watch.stop();
    if (m_serial.isOpen()) {
        m_serial.flush();
        m_serial.close();
    }
}

bool CameraLink::write(const QByteArray &bytes)
{
    if (!m_serial.isOpen() || m_lost)
        return false;
    return m_serial.write(bytes) == bytes.size();
}

void CameraLink::checkStillThere()
{
    if (!m_serial.isOpen() || m_lost)
        return;
    const QList<DiscoveredPort> ports = PortDiscovery::scan(registryFolder());
    for (const DiscoveredPort &port : ports) {
        if (port.name == m_port.name && port.location == m_port.location)
            return;
    }
    markLost();
}

void CameraLink::markLost()
{
    m_lost = true;
    m_watch.stop();
    // Not inside QSerialPort's own notification: close from the event loop.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_lost)
                m_serial.close();
        },
        Qt::QueuedConnection);
    emit lost();
}

} // namespace Cli
