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
#include "views/WindowPlacement.h"

#include <QRandomGenerator>
#include <QScreen>
#include <QtTest>

#include <memory>

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void placement_data();
    void placement();
    void placementProperties();
    void windowsOnScreen();
    void everyTextFits();

private:
    std::unique_ptr<TofDevice> device;
    // Every window the program opens, in the order opened, with the place its
    // code gives it (none: it has no place of its own).
    QList<QPair<QPointer<QWidget>, QPoint>> opened;
};

void TestDesktop::initTestCase()
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

void TestDesktop::cleanupTestCase()
{
    for (const auto &window : qAsConst(opened))
        delete window.first;
}

void TestDesktop::placement_data()
{
    using Rects = QVector<QRect>;
    QTest::addColumn<QRect>("preferred");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<Rects>("sameKind");
    QTest::addColumn<Rects>("keepClear");
    QTest::addColumn<QPoint>("expected");
    const QRect screen(0, 0, 1280, 1024);
    QTest::newRow("fits") << QRect(256, 204, 438, 465) << screen << Rects() << Rects() << QPoint(256, 204);
    QTest::newRow("off the right") << QRect(768, 204, 640, 480) << screen << Rects() << Rects()
                                   << QPoint(640, 204);
    QTest::newRow("too large") << QRect(-9, 100, 1300, 1100) << screen << Rects() << Rects() << QPoint(0, 0);
    QTest::newRow("plot beside calibration") << QRect(768, 204, 574, 354) << screen << Rects()
                                             << Rects { { 400, 512, 472, 316 } } << QPoint(706, 158);
    QTest::newRow("two of its kind") << QRect(100, 100, 200, 100) << screen
                                     << Rects { { 100, 100, 200, 100 }, { 132, 132, 200, 100 } } << Rects()
                                     << QPoint(164, 164);
}

void TestDesktop::placement()
{
    QFETCH(QRect, preferred);
    QFETCH(QRect, available);
    QFETCH(QVector<QRect>, sameKind);
    QFETCH(QVector<QRect>, keepClear);
    QFETCH(QPoint, expected);
    QCOMPARE(
        WindowPlacement::place(preferred, available, sameKind, keepClear), QRect(expected, preferred.size()));
}

void TestDesktop::placementProperties()
{
    QRandomGenerator random(12);
    const auto any = [&](int low, int high) { return random.bounded(low, high); };
    for (int i = 0; i < 20000; ++i) {
        const QRect area(any(-2000, 2000), any(-2000, 2000), any(200, 4000), any(200, 3000));
        const QRect preferred(any(-5000, 5000), any(-5000, 5000), any(1, 1500), any(1, 1500));
        const QVector<QRect> sameKind { WindowPlacement::fitInto(preferred, area) };
        const QRect alone = WindowPlacement::place(preferred, area);
        const QRect offset = WindowPlacement::place(preferred, area, sameKind);
        const bool fits = preferred.width() <= area.width() && preferred.height() <= area.height();
        QVERIFY(alone.size() == preferred.size() && offset.size() == preferred.size());
        QVERIFY(fits ? area.contains(alone) && area.contains(offset) : area.contains(alone.topLeft()));
        QVERIFY(!area.contains(preferred) || alone == preferred);
        QVERIFY(!fits || area.size() == preferred.size() || offset != sameKind.first());
    }
}

void TestDesktop::windowsOnScreen()
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

void TestDesktop::everyTextFits()
{
    QStringList cut;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible())
            cut << WindowTest::cutTexts(window);
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestDesktop)
#include "tst_app_desktop.moc"
