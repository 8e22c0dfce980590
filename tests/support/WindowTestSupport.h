#ifndef WINDOWTESTSUPPORT_H
#define WINDOWTESTSUPPORT_H

// The one rig for tests that drive the real main window against kavrix-sim:
// Rig gives each test its own port registry, data folder and DeviceState;
// rig.start({ "--model", "m20" }) plugs a simulator, opens the device link and
// shows the main window (start(arguments, false): no window). Then find<T>()
// and click() by object name, waitFrames(), waitUntil() in a real event loop,
// press() and logData() return the message-log lines an action added, trigger()
// a menu action, rig.sim->transcript() the bytes the application wrote, and
// rig.sim->unplug() / plug(). MessageBoxAnswers answers modal boxes,
// FileSizeLimit makes writes fail as on a full disk. A rig whose program read
// or wrote a closed port fails its test.

#include "tests/support/SimProcess.h"

#include <QVector>

#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <sys/resource.h>

class MainWindow;
class QWidget;
class TofDevice;

namespace WindowTest {

// The child of `parent` called `name`. A missing one ends the test program:
// the form no longer matches the test, and every later step would be noise.
template <typename T> T *child(const QObject *parent, const char *name)
{
    T *w = parent->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

template <typename T> T *topLevel()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w))
            return t;
    }
    return nullptr;
}

// Waits in a real event loop: QTest::qWaitFor sleeps between its rounds, and a
// pseudo-terminal holds only a few kilobytes, so a stream would back up.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000);
// The simulator's stream counters after "stream stats": sent, status-10 frames, skipped.
QVector<quint64> streamStats(SimProcess &sim);
// Runs the event loop for `ms` milliseconds.
void pump(int ms);

// The labels, buttons and check boxes in `window` whose text the space they
// have cuts (in the font they have), or that hold a character no installed
// font can draw; one line each.
QStringList cutTexts(const QWidget *window);

QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);
// The names of the files in `folder`, hidden ones too, in name order.
QStringList filesIn(const QString &folder);
// Texts of the message boxes on screen ("[title] " before a title other than
// "Information"); closes them. waitForMessages waits for the first one.
QStringList takeMessages();
QStringList waitForMessages(int timeoutMs = 5000);

class Rig
{
public:
    Rig();
    ~Rig();
    Rig(const Rig &) = delete;
    Rig &operator=(const Rig &) = delete;

    bool start(const QStringList &simArguments, bool withWindow = true);

    template <typename T> T *find(const char *name) const { return child<T>(window.get(), name); }
    void click(const char *button) const;
    QStringList lines() const;
    QStringList press(const char *button) const;
    QStringList logData(int timeoutMs = 10000) const;
    bool trigger(const QString &menuText) const;
    bool waitFrames(int count, int timeoutMs = 10000) const;
    bool waitType(quint8 type, int timeoutMs = 5000) const;
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000) const
    {
        return WindowTest::waitUntil(condition, timeoutMs);
    }
    QString dataPath(const QString &name) const { return data->filePath(name); }
    QString workingDir() const;

    std::unique_ptr<QTemporaryDir> data;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TofDevice> device;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QSignalSpy> frames; // MainWindow::pictureReady
};

// Answers the modal message boxes that appear, in order, with `buttons`, and
// keeps their texts.
class MessageBoxAnswers : public QObject
{
public:
    explicit MessageBoxAnswers(const QList<QMessageBox::StandardButton> &buttons)
        : m_buttons(buttons)
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || m_buttons.isEmpty())
                return;
            m_texts << box->text();
            if (QAbstractButton *button = box->button(m_buttons.takeFirst()))
                button->click();
        });
        m_timer.start();
    }
    QStringList texts() const { return m_texts; }

private:
    QTimer m_timer;
    QList<QMessageBox::StandardButton> m_buttons;
    QStringList m_texts;
};

// While it exists, the process cannot write files longer than `bytes`: a
// write past the limit fails (EFBIG), as on a full disk (ENOSPC).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool isActive() const { return m_active; }
    void lift();

private:
    rlimit m_saved {};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace WindowTest

#endif // WINDOWTESTSUPPORT_H
