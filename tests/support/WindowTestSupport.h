#ifndef WINDOWTESTSUPPORT_H
#define WINDOWTESTSUPPORT_H

#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class MainWindow;
class QWidget;
class SimProcess;
class TofDevice;

// Helpers for the tests that drive the real windows against kavrix-sim.
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

// The lines of the main window's message log ("textEditInfo"), and its last one.
QStringList infoLines(const QWidget *mainWindow);
QString lastInfoLine(const QWidget *mainWindow);

// Waits (QTest::qWaitFor) until the device link reports the device type `type`.
bool waitForDeviceType(const TofDevice *device, quint8 type, int timeoutMs = 5000);

// Waits in a real event loop: QTest::qWaitFor sleeps between its rounds, and a
// pseudo-terminal holds only a few kilobytes, so a stream would back up.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000);

// Starts kavrix-sim with `arguments`, then the device link. Returns false when
// the simulator does not start or the device link did not open it as a
// "Kavrix M10" or "Kavrix M20".
bool startCamera(
    const QStringList &arguments, std::unique_ptr<SimProcess> *sim, std::unique_ptr<TofDevice> *device);

// Starts kavrix-sim with `arguments`, then the device link and the main window
// as the application does with a camera already plugged in. Returns false when
// the simulator does not start or the device link did not open it as a
// "Kavrix M10" or "Kavrix M20".
bool startCameraAndWindow(const QStringList &arguments, std::unique_ptr<SimProcess> *sim,
    std::unique_ptr<TofDevice> *device, std::unique_ptr<MainWindow> *window);

// The labels, buttons and check boxes in `window` whose text the space they
// have cuts (in the font they have), or that hold a character no installed
// font can draw; one line each.
QStringList cutTexts(const QWidget *window);

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

} // namespace WindowTest

#endif // WINDOWTESTSUPPORT_H
