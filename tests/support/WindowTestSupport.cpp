#include "tests/support/WindowTestSupport.h"

#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "tests/support/SimProcess.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace WindowTest {

QStringList infoLines(const QWidget *mainWindow)
{
    return child<QTextEdit>(mainWindow, "textEditInfo")->toPlainText().split(QLatin1Char('\n'));
}

QString lastInfoLine(const QWidget *mainWindow)
{
    const QStringList lines = infoLines(mainWindow);
    return lines.isEmpty() ? QString() : lines.last();
}

bool waitForDeviceType(const TofDevice *device, quint8 type, int timeoutMs)
{
    return QTest::qWaitFor([&] { return device->deviceType() == type; }, timeoutMs);
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool startCamera(
    const QStringList &arguments, std::unique_ptr<SimProcess> *sim, std::unique_ptr<TofDevice> *device)
{
    *sim = std::make_unique<SimProcess>();
    if (!(*sim)->start(arguments))
        return false;
    *device = std::make_unique<TofDevice>();
    const quint8 type = (*device)->deviceType();
    return type == TofDevice::KavrixM10 || type == TofDevice::KavrixM20;
}

bool startCameraAndWindow(const QStringList &arguments, std::unique_ptr<SimProcess> *sim,
    std::unique_ptr<TofDevice> *device, std::unique_ptr<MainWindow> *window)
{
    const bool opened = startCamera(arguments, sim, device);
    if (*device)
        *window = std::make_unique<MainWindow>(device->get());
    return opened;
}

} // namespace WindowTest
