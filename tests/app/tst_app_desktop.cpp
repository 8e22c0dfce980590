// Every window of the program on a real X screen (run once per screen size):
// where each opens, and whether every text of every form is shown whole.

#include "app/ApplicationContext.h"
#include "app/MainWindow.h"
#include "calibration/Calibration.h"
#include "calibration/InfoDRNUCurve.h"
#include "check/CheckBoard.h"
#include "device/TofDevice.h"
#include "deviceinfo/LensInfo.h"
#include "firmware/UpdateFirmware.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WindowTestSupport.h"
#include "views/PictureBox.h"
#include "views/ShowPoint.h"
#include "views/WidgetPointCloud.h"

#include <QScreen>
#include <QtTest>

#include <memory>

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        isolateRegistry();
        ApplicationContext::useInterfaceFont();
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const int w = area.width();
        const int h = area.height();
        device = std::make_unique<TofDevice>();
        auto *picture = new PictureBox;
        auto *calibration = new Calibration(device.get());
        // The second main window stands for a second instance of the program.
        opened = { { new MainWindow(device.get()), { w / 5, h / 5 } }, { new MainWindow(device.get()), {} },
            { picture, { 3 * (w / 5), h / 5 } }, { picture->inspector(), {} },
            { new WidgetPointCloud, { 3 * (w / 5), h / 5 } }, { calibration, { w / 16 * 5, h / 2 } },
            { calibration->curveWindow(), {} }, { new UpdateFirmware(device.get()), {} },
            { new LensInfo(device.get()), {} }, { new CheckBoard(device.get()), {} } };
        for (const auto &window : qAsConst(opened))
            window.first->show();
        QVERIFY(QTest::qWaitForWindowExposed(opened.last().first));
    }

    void cleanupTestCase()
    {
        for (const auto &window : qAsConst(opened))
            delete window.first;
    }

    void windowsOnScreen()
    {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        for (const auto &[window, given] : qAsConst(opened)) {
            const QRect frame = window->frameGeometry();
            QVERIFY2(window->isVisible() && area.contains(frame), window->metaObject()->className());
            // Where the given place lies wholly on the screen, the window is there.
            if (!given.isNull() && area.contains(QRect(given, frame.size())))
                QCOMPARE(frame.topLeft(), given);
        }
        QVERIFY(opened.at(1).first->pos() != opened.at(0).first->pos()); // two main windows
        QVERIFY(!opened.at(6).first->frameGeometry().intersects(opened.at(5).first->frameGeometry())); // plot
    }

    void everyTextFits()
    {
        QStringList cut;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible())
                cut << WindowTest::cutTexts(window);
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    }

private:
    std::unique_ptr<TofDevice> device;
    // Every window the program opens, in the order opened, with the place its
    // code gives it (none: it has no place of its own).
    QList<QPair<QPointer<QWidget>, QPoint>> opened;
};

QTEST_MAIN(TestDesktop)
#include "tst_app_desktop.moc"
