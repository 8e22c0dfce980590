#include "sim/SimCamera.h"

#include "device/PortRegistry.h"
#include "sim/SimModule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int s_signalFds[2] = { -1, -1 };

void signalHandler(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(s_signalFds[0], &byte, 1);
    errno = savedErrno;
}

bool parseHexIdentifier(const QString &text, quint16 *value)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    if (ok)
        *value = quint16(v);
    return ok;
}

constexpr int GarbageFlushMs = 20;

} // namespace

SimCamera::SimCamera(QObject *parent)
    : QObject(parent)
    , m_name(QStringLiteral("kavrix-sim-%1").arg(QCoreApplication::applicationPid()))
{
    m_garbageTimer.setSingleShot(true);
    m_garbageTimer.setInterval(GarbageFlushMs);
    connect(&m_garbageTimer, &QTimer::timeout, this, &SimCamera::flushGarbage);

    m_gapTimer.setSingleShot(true);
    m_gapTimer.setInterval(2);
    connect(&m_gapTimer, &QTimer::timeout, this, &SimCamera::writeMaster);

    m_replugTimer.setSingleShot(true);
    connect(&m_replugTimer, &QTimer::timeout, this, [this] {
        setModel(m_replugModel);
        plug();
    });

    m_entryRemovalTimer.setSingleShot(true);
    connect(&m_entryRemovalTimer, &QTimer::timeout, this,
        [this] { PortRegistry::removeEntry(m_registryFolder, m_name); });
}

SimCamera::~SimCamera()
{
    unplug();
    if (m_entryRemovalTimer.isActive())
        PortRegistry::removeEntry(m_registryFolder, m_name);
    qDeleteAll(m_modules);
    flushStdout(true);
}

void SimCamera::addModule(SimModule *module)
{
    m_modules.push_back(module);
}

QString SimCamera::modelName(Model model)
{
    switch (model) {
    case M10:
        return QStringLiteral("m10");
    case M20:
        return QStringLiteral("m20");
    case Bootloader:
        return QStringLiteral("bootloader");
    }
    return QString();
}

bool SimCamera::modelFromName(const QString &name, Model *model)
{
    for (Model m : { M10, M20, Bootloader }) {
        if (name.compare(modelName(m), Qt::CaseInsensitive) == 0) {
            *model = m;
            return true;
        }
    }
    return false;
}

int SimCamera::width() const
{
    switch (m_model) {
    case M10:
        return 160;
    case M20:
        return 320;
    case Bootloader:
        break;
    }
    return 0;
}

int SimCamera::height() const
{
    switch (m_model) {
    case M10:
        return 60;
    case M20:
        return 240;
    case Bootloader:
        break;
    }
    return 0;
}

quint16 SimCamera::productIdentifier() const
{
    if (m_productOverride >= 0)
        return quint16(m_productOverride);
    switch (m_model) {
    case M10:
        return 0x027B;
    case M20:
        return 0x0294;
    case Bootloader:
        break;
    }
    return 0x027A;
}

bool SimCamera::setup(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Kavrix camera on a pseudo-terminal, published as a virtual USB serial port.\n"
        "Control lines on stdin: plug, unplug, hangup [delayMs], reenumerate <model> [delayMs], "
        "send <hex bytes>, status, quit."));
    parser.addHelpOption();
    const QCommandLineOption modelOption(QStringLiteral("model"), QStringLiteral("m10, m20 or bootloader."),
        QStringLiteral("model"), QStringLiteral("m10"));
    const QCommandLineOption nameOption(
        QStringLiteral("name"), QStringLiteral("Registry and port name."), QStringLiteral("name"));
    const QCommandLineOption vidOption(QStringLiteral("vid"),
        QStringLiteral("USB vendor identifier (hex), or \"none\"."), QStringLiteral("hex"));
    const QCommandLineOption pidOption(QStringLiteral("pid"),
        QStringLiteral("USB product identifier (hex), or \"none\"."), QStringLiteral("hex"));
    const QCommandLineOption transcriptOption(QStringLiteral("transcript"),
        QStringLiteral("Write every received item to this file."), QStringLiteral("file"));
    const QCommandLineOption unpluggedOption(
        QStringLiteral("unplugged"), QStringLiteral("Start without plugging in."));
    const QCommandLineOption chunkOption(QStringLiteral("chunk"),
        QStringLiteral("Split every write into pieces of at most N bytes."), QStringLiteral("N"),
        QStringLiteral("0"));
    const QCommandLineOption chunkRandomOption(QStringLiteral("chunk-random"),
        QStringLiteral("Random piece sizes 1..N, repeatable by seed."), QStringLiteral("seed"));
    const QCommandLineOption chunkGapOption(QStringLiteral("chunk-gap"),
        QStringLiteral("Milliseconds between pieces (default 2)."), QStringLiteral("ms"),
        QStringLiteral("2"));
    parser.addOptions({ modelOption, nameOption, vidOption, pidOption, transcriptOption, unpluggedOption,
        chunkOption, chunkRandomOption, chunkGapOption });
    for (SimModule *module : m_modules)
        module->addOptions(parser);

    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);

    if (!modelFromName(parser.value(modelOption), &m_model)) {
        *error = QStringLiteral("unknown model \"%1\"").arg(parser.value(modelOption));
        return false;
    }
    if (parser.isSet(nameOption))
        m_name = parser.value(nameOption);
    if (!PortRegistry::isValidName(m_name)) {
        *error = QStringLiteral("invalid name \"%1\"").arg(m_name);
        return false;
    }
    if (parser.isSet(vidOption)) {
        const QString vid = parser.value(vidOption);
        m_hasVendorIdentifier = vid != QLatin1String("none");
        if (m_hasVendorIdentifier && !parseHexIdentifier(vid, &m_vendorIdentifier)) {
            *error = QStringLiteral("invalid vendor identifier \"%1\"").arg(vid);
            return false;
        }
    }
    if (parser.isSet(pidOption)) {
        const QString pid = parser.value(pidOption);
        quint16 value = 0;
        if (pid == QLatin1String("none")) {
            m_productOverride = -2;
        } else if (parseHexIdentifier(pid, &value)) {
            m_productOverride = value;
        } else {
            *error = QStringLiteral("invalid product identifier \"%1\"").arg(pid);
            return false;
        }
    }
    bool ok = false;
    m_chunkSize = parser.value(chunkOption).toInt(&ok);
    if (!ok || m_chunkSize < 0) {
        *error = QStringLiteral("invalid chunk size \"%1\"").arg(parser.value(chunkOption));
        return false;
    }
    if (parser.isSet(chunkRandomOption)) {
        const uint seed = parser.value(chunkRandomOption).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("invalid seed \"%1\"").arg(parser.value(chunkRandomOption));
            return false;
        }
        m_chunkRandom = true;
        m_random.seed(seed);
        if (m_chunkSize == 0)
            m_chunkSize = 512;
    }
    const int gap = parser.value(chunkGapOption).toInt(&ok);
    if (!ok || gap < 0) {
        *error = QStringLiteral("invalid chunk gap \"%1\"").arg(parser.value(chunkGapOption));
        return false;
    }
    m_gapTimer.setInterval(gap);
    m_startUnplugged = parser.isSet(unpluggedOption);

    if (parser.isSet(transcriptOption)) {
        m_transcript.setFileName(parser.value(transcriptOption));
        if (!m_transcript.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = QStringLiteral("cannot write %1: %2")
                         .arg(m_transcript.fileName(), m_transcript.errorString());
            return false;
        }
    }

    for (SimModule *module : m_modules) {
        if (!module->applyOptions(parser, error))
            return false;
    }

    m_registryFolder = PortRegistry::folderPath();
    if (!PortRegistry::ensureFolder(m_registryFolder)) {
        *error = QStringLiteral("cannot create the port registry %1").arg(m_registryFolder);
        return false;
    }
    return true;
}

void SimCamera::start()
{
    // A closed stdout must not kill the simulator before it has withdrawn its entry.
    std::signal(SIGPIPE, SIG_IGN);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_signalFds) == 0) {
        m_signalNotifier = new QSocketNotifier(s_signalFds[1], QSocketNotifier::Read, this);
        connect(m_signalNotifier, &QSocketNotifier::activated, this, &SimCamera::readSignal);
        struct sigaction action = {};
        action.sa_handler = signalHandler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signalNumber : { SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP })
            ::sigaction(signalNumber, &action, nullptr);
    }

    // A test that does not read our stdout for a while must not stall the camera:
    // when stdout is a pipe, lines queue here instead of blocking.
    struct stat stdoutInfo;
    if (::fstat(STDOUT_FILENO, &stdoutInfo) == 0 && S_ISFIFO(stdoutInfo.st_mode)
        && ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK) == 0) {
        m_stdoutNonBlocking = true;
        m_stdoutNotifier = new QSocketNotifier(STDOUT_FILENO, QSocketNotifier::Write, this);
        m_stdoutNotifier->setEnabled(!m_stdoutBuffer.isEmpty());
        connect(m_stdoutNotifier, &QSocketNotifier::activated, this, [this] { flushStdout(false); });
    }

    if (::fcntl(STDIN_FILENO, F_GETFD) != -1) {
        m_controlNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_controlNotifier, &QSocketNotifier::activated, this, &SimCamera::readControl);
    }

    emitEvent(QStringLiteral("ready %1 %2").arg(m_name, modelName(m_model)));
    if (!m_startUnplugged)
        plug();
}

void SimCamera::plug()
{
    if (isPlugged())
        return;
    m_replugTimer.stop();
    m_entryRemovalTimer.stop();

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        emitEvent(QStringLiteral("error cannot open a pseudo-terminal: %1")
                      .arg(QString::fromLocal8Bit(strerror(errno))));
        return;
    }
    char path[256] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, path, sizeof path) != 0) {
        emitEvent(QStringLiteral("error cannot prepare the pseudo-terminal"));
        ::close(master);
        return;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    const int slave = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave >= 0) {
        termios settings;
        if (::tcgetattr(slave, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(slave, TCSANOW, &settings);
        }
    }

    m_masterFd = master;
    m_slaveFd = slave;
    m_ttyPath = QString::fromLocal8Bit(path);
    m_readNotifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SimCamera::readMaster);
    m_writeNotifier = new QSocketNotifier(master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SimCamera::writeMaster);

    PortRegistry::Entry entry;
    entry.name = m_name;
    entry.device = m_ttyPath;
    entry.hasVendorIdentifier = m_hasVendorIdentifier;
    entry.vendorIdentifier = m_vendorIdentifier;
    entry.hasProductIdentifier = m_productOverride != -2;
    entry.productIdentifier = productIdentifier();
    entry.ownerPid = QCoreApplication::applicationPid();

    for (SimModule *module : m_modules)
        module->plugged();

    QString error;
    if (!PortRegistry::writeEntry(m_registryFolder, entry, &error)) {
        emitEvent(QStringLiteral("error cannot publish the port: %1").arg(error));
        closePty();
        return;
    }
    emitEvent(QStringLiteral("plugged %1 %2").arg(m_name, m_ttyPath));
}

void SimCamera::unplug()
{
    m_replugTimer.stop();
    if (!isPlugged())
        return;
    // The entry goes first, as a USB device's node disappears before its driver lets go.
    PortRegistry::removeEntry(m_registryFolder, m_name);
    closePty();
    emitEvent(QStringLiteral("unplugged %1").arg(m_name));
}

void SimCamera::hangup(int entryDelayMs)
{
    // A link that dies under the application: the tty goes first, the registry
    // entry follows later (or never, with a negative delay).
    m_replugTimer.stop();
    if (!isPlugged())
        return;
    closePty();
    emitEvent(QStringLiteral("unplugged %1").arg(m_name));
    if (entryDelayMs >= 0)
        m_entryRemovalTimer.start(entryDelayMs);
}

void SimCamera::closePty()
{
    flushGarbage();
    const QByteArray rest = m_framer.takeRemainder();
    if (!rest.isEmpty())
        transcriptLine(QStringLiteral("? ") + hexLine(rest));

    m_pieces.clear();
    m_pendingBytes = 0;
    m_gapTimer.stop();
    // A module may unplug from inside the read notifier's own signal: never delete it there.
    for (QSocketNotifier *notifier : { m_readNotifier, m_writeNotifier }) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    m_slaveFd = -1;
    if (m_masterFd >= 0)
        ::close(m_masterFd);
    m_masterFd = -1;

    for (SimModule *module : m_modules)
        module->unplugged();
}

void SimCamera::reenumerate(Model newModel, int delayMs)
{
    unplug();
    m_replugModel = newModel;
    m_replugTimer.start(qMax(0, delayMs));
}

void SimCamera::setModel(Model model)
{
    if (model != m_model)
        m_productOverride = -1; // an override names the first model's product only
    m_model = model;
    for (SimModule *module : m_modules)
        module->modelChanged();
    emit modelChanged();
}

void SimCamera::quit(int exitCode)
{
    unplug();
    if (m_entryRemovalTimer.isActive()) {
        m_entryRemovalTimer.stop();
        PortRegistry::removeEntry(m_registryFolder, m_name);
    }
    if (m_transcript.isOpen())
        m_transcript.close();
    emitEvent(QStringLiteral("bye %1").arg(m_name));
    flushStdout(true);
    QCoreApplication::exit(exitCode);
}

QByteArray SimCamera::noise(int bytes, int markerEvery, quint32 seed)
{
    static const QByteArray Marker = QByteArrayLiteral("*##*");
    QRandomGenerator random(seed);
    QByteArray out(bytes, Qt::Uninitialized);
    for (char &c : out)
        c = char(random.bounded(256));
    out.replace(Marker, QByteArrayLiteral("*#x*"));
    if (markerEvery > 0 && bytes >= Marker.size()) {
        // A fixed spacing: noise blocks have a frame's length only when the
        // spacing plus the marker divides the frame length plus the marker.
        for (int at = markerEvery; at + Marker.size() <= bytes; at += markerEvery + Marker.size())
            out.replace(at, Marker.size(), Marker);
        out.replace(bytes - Marker.size(), Marker.size(), Marker);
    }
    return out;
}

void SimCamera::send(const QByteArray &bytes)
{
    if (!isPlugged() || bytes.isEmpty())
        return;
    if (m_chunkSize <= 0) {
        m_pieces.enqueue(bytes);
    } else {
        for (int pos = 0; pos < bytes.size();) {
            const int size = m_chunkRandom ? int(m_random.bounded(1, m_chunkSize + 1)) : m_chunkSize;
            m_pieces.enqueue(bytes.mid(pos, size));
            pos += size;
        }
    }
    m_pendingBytes += bytes.size();
    if (!m_gapTimer.isActive() && !(m_writeNotifier && m_writeNotifier->isEnabled()))
        writeMaster();
}

qint64 SimCamera::pendingOutputBytes() const
{
    return m_pendingBytes;
}

void SimCamera::writeMaster()
{
    if (!isPlugged())
        return;
    while (!m_pieces.isEmpty()) {
        QByteArray &piece = m_pieces.head();
        const ssize_t written = ::write(m_masterFd, piece.constData(), size_t(piece.size()));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_writeNotifier->setEnabled(true);
                return;
            }
            m_pieces.clear(); // the terminal is gone; nothing can be delivered
            m_pendingBytes = 0;
            break;
        }
        m_pendingBytes -= written;
        emit bytesWritten(written);
        if (written < piece.size()) {
            piece.remove(0, int(written));
            m_writeNotifier->setEnabled(true);
            return;
        }
        m_pieces.dequeue();
        if (m_chunkSize > 0 && !m_pieces.isEmpty()) {
            m_writeNotifier->setEnabled(false);
            m_gapTimer.start();
            return;
        }
    }
    m_writeNotifier->setEnabled(false);
}

void SimCamera::readMaster()
{
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(m_masterFd, buffer, sizeof buffer);
        if (count > 0) {
            m_framer.append(QByteArray(buffer, int(count)));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // Cannot happen while we hold the slave side open; do not spin if it does.
            m_readNotifier->setEnabled(false);
        }
        break;
    }
    processInput();
}

void SimCamera::processInput()
{
    while (isPlugged()) {
        SimModule *owner = nullptr;
        int rawLength = 0;
        for (SimModule *module : m_modules) {
            const int length = module->pendingRawBytes();
            if (length > 0) {
                owner = module;
                rawLength = length;
                break;
            }
        }
        const CommandFramer::Item item = m_framer.next(rawLength);
        if (item.kind == CommandFramer::None)
            break;
        if (item.kind == CommandFramer::Garbage) {
            m_garbage.append(item.bytes);
            continue;
        }
        flushGarbage();
        if (item.kind == CommandFramer::Command)
            dispatchCommand(item.bytes);
        else
            dispatchRaw(owner, item.bytes);
    }
    if (!m_garbage.isEmpty())
        m_garbageTimer.start();
}

void SimCamera::flushGarbage()
{
    m_garbageTimer.stop();
    if (m_garbage.isEmpty())
        return;
    transcriptLine(QStringLiteral("? ") + hexLine(m_garbage));
    m_garbage.clear();
}

void SimCamera::dispatchCommand(const QByteArray &command)
{
    transcriptLine(hexLine(command));
    for (SimModule *module : m_modules) {
        if (module->handleCommand(command))
            return;
    }
    // 51, prepare firmware update: the camera restarts into its bootloader.
    if (command == QByteArray("\x23\x23\x33") && m_model != Bootloader)
        reenumerate(Bootloader, 300);
}

void SimCamera::dispatchRaw(SimModule *owner, const QByteArray &packet)
{
    transcriptLine(hexLine(packet));
    if (owner)
        owner->handleRaw(packet);
}

QString SimCamera::hexLine(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

void SimCamera::transcriptLine(const QString &line)
{
    const QByteArray utf8 = line.toUtf8();
    if (m_transcript.isOpen()) {
        m_transcript.write(utf8);
        m_transcript.write("\n");
        m_transcript.flush();
    }
    writeStdout("rx " + utf8);
}

void SimCamera::emitEvent(const QString &line)
{
    writeStdout(line.toUtf8());
}

void SimCamera::writeStdout(const QByteArray &line)
{
    m_stdoutBuffer.append(line);
    m_stdoutBuffer.append('\n');
    flushStdout(false);
}

void SimCamera::flushStdout(bool block)
{
    if (block && m_stdoutNonBlocking) {
        ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) & ~O_NONBLOCK);
        m_stdoutNonBlocking = false;
    }
    int offset = 0;
    while (offset < m_stdoutBuffer.size()) {
        const ssize_t written = ::write(
            STDOUT_FILENO, m_stdoutBuffer.constData() + offset, size_t(m_stdoutBuffer.size() - offset));
        if (written > 0) {
            offset += int(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            offset = m_stdoutBuffer.size(); // nobody listens any more
        }
    }
    m_stdoutBuffer.remove(0, offset);
    if (m_stdoutNotifier)
        m_stdoutNotifier->setEnabled(!m_stdoutBuffer.isEmpty());
}

void SimCamera::readControl()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        // stdin closed: keep running; only quit or a signal ends the simulator.
        m_controlNotifier->setEnabled(false);
        return;
    }
    m_controlBuffer.append(buffer, int(count));
    int newline;
    while ((newline = m_controlBuffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_controlBuffer.left(newline)).trimmed();
        m_controlBuffer.remove(0, newline + 1);
        handleControlLine(line);
    }
}

void SimCamera::handleControlLine(const QString &line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    const QString &word = words.first();
    bool ok = true;
    if (word == QLatin1String("plug") && words.size() == 1) {
        plug();
    } else if (word == QLatin1String("unplug") && words.size() == 1) {
        unplug();
    } else if (word == QLatin1String("hangup") && words.size() <= 2) {
        const int delay = words.size() == 2 ? words[1].toInt(&ok) : 100;
        if (ok)
            hangup(delay);
    } else if (word == QLatin1String("reenumerate") && (words.size() == 2 || words.size() == 3)) {
        Model model;
        const int delay = words.size() == 3 ? words[2].toInt(&ok) : 0;
        ok = ok && delay >= 0 && modelFromName(words[1], &model);
        if (ok)
            reenumerate(model, delay);
    } else if (word == QLatin1String("send") && words.size() >= 2) {
        // Raw bytes to the application, e.g. "send 2A 23 23 2A": replies no module makes.
        const QByteArray hex = words.mid(1).join(QString()).toLatin1();
        ok = hex.size() % 2 == 0 && std::all_of(hex.cbegin(), hex.cend(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c));
        });
        if (ok)
            send(QByteArray::fromHex(hex));
    } else if (word == QLatin1String("noise") && (words.size() == 3 || words.size() == 4)) {
        bool sizeOk = false;
        bool everyOk = false;
        const int bytes = words[1].toInt(&sizeOk);
        const int markerEvery = words[2].toInt(&everyOk);
        const quint32 seed = words.size() == 4 ? words[3].toUInt(&ok) : 1;
        ok = ok && sizeOk && everyOk && bytes > 0 && bytes <= 64 * 1024 * 1024 && markerEvery >= 0;
        if (ok)
            send(noise(bytes, markerEvery, seed));
    } else if (word == QLatin1String("status") && words.size() == 1) {
        emitEvent(QStringLiteral("status %1 %2 %3 %4")
                      .arg(isPlugged() ? QStringLiteral("plugged") : QStringLiteral("unplugged"), m_name,
                          modelName(m_model), isPlugged() ? m_ttyPath : QStringLiteral("-")));
    } else if (word == QLatin1String("quit") && words.size() == 1) {
        quit(0);
    } else {
        ok = false;
        for (SimModule *module : m_modules) {
            if (module->handleControl(words)) {
                ok = true;
                break;
            }
        }
        if (!ok) {
            emitEvent(QStringLiteral("error unknown control line: %1").arg(line));
            return;
        }
    }
    if (!ok)
        emitEvent(QStringLiteral("error bad arguments: %1").arg(line));
}

void SimCamera::readSignal()
{
    char signalNumber = 0;
    while (::read(s_signalFds[1], &signalNumber, 1) == 1) {
        switch (signalNumber) {
        case SIGUSR1:
            unplug();
            break;
        case SIGUSR2:
            plug();
            break;
        default:
            quit(0);
            return;
        }
    }
}
