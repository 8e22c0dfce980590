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
        device = std::make_unique<TofDevice>();
        auto *picture = new PictureBox;
        auto *calibration = new Calibration(device.get());
        // The second main window stands for a second instance of the program.
        opened = { new MainWindow(device.get()), new MainWindow(device.get()), picture, picture->inspector(),
            new WidgetPointCloud, calibration, calibration->curveWindow(), new UpdateFirmware(device.get()),
            new LensInfo(device.get()), new CheckBoard(device.get()) };
        for (QWidget *window : qAsConst(opened))
            window->show();
        QVERIFY(QTest::qWaitForWindowExposed(opened.last()));
    }

    void cleanupTestCase() { qDeleteAll(opened); }

    void windowsOnScreen()
    {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        for (QWidget *window : qAsConst(opened))
            QVERIFY2(window->isVisible() && area.contains(window->frameGeometry()),
                window->metaObject()->className());
        QVERIFY(opened.at(1)->pos() != opened.at(0)->pos()); // two main windows
        QVERIFY(!opened.at(6)->frameGeometry().intersects(opened.at(5)->frameGeometry())); // plot
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
    QList<QPointer<QWidget>> opened; // every window of the program, in the order opened
};

QTEST_MAIN(TestDesktop)
#include "tst_app_desktop.moc"
