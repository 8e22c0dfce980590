#include "tests/support/WindowTestSupport.h"

#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "firmware/UpdateFirmware.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOption>
#include <QTextEdit>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace WindowTest {

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        pump(5);
    }
    return true;
}

void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    // As QTest::qWait does: windows closed with deleteLater() go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QStringList cutTexts(const QWidget *window)
{
    static const QStringList families = QFontDatabase().families();
    QStringList cut;
    for (const QWidget *w : window->findChildren<QWidget *>()) {
        const auto *label = qobject_cast<const QLabel *>(w);
        const auto *button = qobject_cast<const QAbstractButton *>(w);
        const QString text = label ? label->text() : button ? button->text() : QString();
        if (text.isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QString where
            = QStringLiteral("%1/%2: ").arg(window->metaObject()->className(), w->objectName());
        // Qt draws a character with any installed font that has it.
        for (const uint c : text.toUcs4()) {
            if (std::none_of(families.cbegin(), families.cend(),
                    [c](const QString &f) { return QFontMetrics(QFont(f)).inFontUcs4(c); }))
                cut << where + QStringLiteral("no font has U+%1").arg(c, 4, 16, QLatin1Char('0'));
        }
        // The room the style leaves for the text.
        QStyleOptionButton option;
        option.initFrom(w);
        option.text = text;
        QRect room = label ? label->contentsRect().marginsRemoved(QMargins() + label->margin())
            : qobject_cast<const QCheckBox *>(w)
            ? w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w)
            : w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w);
        const QFontMetrics metrics(w->font());
        const QSize needed = label && label->wordWrap()
            ? metrics.boundingRect(QRect(QPoint(), room.size()), Qt::TextWordWrap, text).size()
            : QSize(metrics.horizontalAdvance(text), metrics.height());
        if (needed.width() > room.width() || needed.height() > room.height())
            cut << where
                    + QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
                          .arg(text)
                          .arg(needed.width())
                          .arg(needed.height())
                          .arg(room.width())
                          .arg(room.height());
    }
    return cut;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

static QList<QMessageBox *> visibleBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible())
            boxes << box;
    }
    return boxes;
}

QStringList takeMessages()
{
    QStringList texts;
    for (QMessageBox *box : visibleBoxes()) {
        texts << (box->windowTitle() == QLatin1String("Information") ? QString() : QStringLiteral("[title] "))
                + box->text();
        box->close();
    }
    return texts;
}

QStringList waitForMessages(int timeoutMs)
{
    (void)QTest::qWaitFor([] { return !visibleBoxes().isEmpty(); }, timeoutMs);
    return takeMessages();
}

// Qt warns of a closed port read or written: the program missed an unplug.
static int closedPortUses = 0;
static QtMessageHandler forwardMessage = nullptr;

static void countClosedPortUses(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.contains(QLatin1String("(QSerialPort): device not open")))
        ++closedPortUses;
    forwardMessage(type, context, text);
}

Rig::Rig()
{
    if (!forwardMessage)
        forwardMessage = qInstallMessageHandler(countClosedPortUses);
    closedPortUses = 0;
    static const QString registry = isolateRegistry();
    Q_UNUSED(registry)
    deviceState() = DeviceState();
    data = std::make_unique<QTemporaryDir>();
    qputenv("QUARVEL_DATA_DIR", QFile::encodeName(data->path()));
}

Rig::~Rig()
{
    // Tool windows first: a calibration window deletes its curve window with it.
    QList<QPointer<QWidget>> tools;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<Calibration *>(w) || qobject_cast<UpdateFirmware *>(w))
            tools << w;
    }
    for (const QPointer<QWidget> &w : qAsConst(tools))
        delete w.data();
    takeMessages();
    frames.reset();
    window.reset();
    device.reset(); // closes the port before the simulator goes
    sim.reset();
    if (closedPortUses)
        QTest::qFail("the program used a closed serial port", __FILE__, __LINE__);
}

bool Rig::start(const QStringList &simArguments, bool withWindow)
{
    sim = std::make_unique<SimProcess>();
    if (!sim->start(simArguments))
        return false;
    device = std::make_unique<TofDevice>();
    if (withWindow) {
        window = std::make_unique<MainWindow>(device.get());
        window->show();
        frames = std::make_unique<QSignalSpy>(window.get(), &MainWindow::pictureReady);
    }
    return device->deviceType() != TofDevice::NoDevice;
}

void Rig::click(const char *button) const
{
    find<QAbstractButton>(button)->click();
}

QStringList Rig::lines() const
{
    return find<QTextEdit>("textEditInfo")->toPlainText().split(QLatin1Char('\n'));
}

QStringList Rig::press(const char *button) const
{
    const int before = lines().size();
    click(button);
    return lines().mid(before);
}

QStringList Rig::logData(int timeoutMs) const
{
    static const QRegularExpression report(QStringLiteral("^Log\\d+: "));
    const int before = lines().size();
    click("pushButtonLogData");
    waitUntil(
        [&] {
            const QStringList added = lines().mid(before);
            return !added.filter(report).isEmpty() || added.contains(QStringLiteral("Open log file failed"));
        },
        timeoutMs);
    return lines().mid(before);
}

bool Rig::trigger(const QString &menuText) const
{
    for (QAction *action : window->menuBar()->findChildren<QAction *>()) {
        if (action->text() == menuText) {
            action->trigger();
            return true;
        }
    }
    return false;
}

bool Rig::waitFrames(int count, int timeoutMs) const
{
    const int target = frames->size() + count;
    return waitUntil([&] { return frames->size() >= target; }, timeoutMs);
}

bool Rig::waitType(quint8 type, int timeoutMs) const
{
    return waitUntil([&] { return device->deviceType() == type; }, timeoutMs);
}

QString Rig::workingDir() const
{
    return deviceState().workingDir();
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = m_saved;
    limited.rlim_cur = bytes;
    m_active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

void FileSizeLimit::lift()
{
    if (!m_active)
        return;
    setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_previousHandler);
    m_active = false;
}

QVector<quint64> streamStats(SimProcess &sim)
{
    const int before = sim.events().size();
    sim.control("stream stats");
    waitUntil([&] { return sim.waitForEvent("stream stats", 0) && sim.events().size() > before; }, 5000);
    const QStringList words = sim.events().last().split(' ');
    return { words.value(3).toULongLong(), words.value(5).toULongLong(), words.value(7).toULongLong() };
}

} // namespace WindowTest
