// Every window of the program on a real X screen (run once per screen size):
// where each opens, and whether every text of every form is shown whole.

#include "app/ApplicationContext.h"
#include "app/DeviceState.h"
#include "app/MainWindow.h"
#include "app/WindowPlacement.h"
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
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<MainWindow> secondMainWindow;
    std::unique_ptr<PictureBox> picture;
    std::unique_ptr<WidgetPointCloud> pointCloud;
    QPointer<Calibration> calibration;
    QPointer<UpdateFirmware> firmware;
    QPointer<LensInfo> lens;
    std::unique_ptr<CheckBoard> checkBoard;
};

void TestDesktop::initTestCase()
{
    isolateRegistry();
    ApplicationContext::useInterfaceFont();
    QVERIFY(QGuiApplication::primaryScreen());
    qInfo() << "screen" << QGuiApplication::primaryScreen()->geometry() << "font"
            << QApplication::font().family() << QApplication::font().pointSize();

    // Every window the program opens, as it opens them, without a camera.
    device = std::make_unique<TofDevice>();
    mainWindow = std::make_unique<MainWindow>(device.get());
    mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
    // A second instance of the program opens where the first would.
    secondMainWindow = std::make_unique<MainWindow>(device.get());
    secondMainWindow->show();
    picture = std::make_unique<PictureBox>();
    picture->show();
    picture->inspector()->show();
    pointCloud = std::make_unique<WidgetPointCloud>();
    pointCloud->show();
    calibration = new Calibration(device.get());
    calibration->show();
    QVERIFY(QTest::qWaitForWindowExposed(calibration));
    calibration->curveWindow()->show();
    firmware = new UpdateFirmware(device.get());
    firmware->show();
    lens = new LensInfo(device.get());
    lens->show();
    checkBoard = std::make_unique<CheckBoard>(device.get());
    checkBoard->show();
    QVERIFY(QTest::qWaitForWindowExposed(checkBoard.get()));
}

void TestDesktop::cleanupTestCase()
{
    delete calibration;
    delete firmware;
    delete lens;
    checkBoard.reset();
    pointCloud.reset();
    picture.reset();
    secondMainWindow.reset();
    mainWindow.reset();
    device.reset();
}

void TestDesktop::placement_data()
{
    QTest::addColumn<QRect>("preferred");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QVector<QRect>>("sameKind");
    QTest::addColumn<QVector<QRect>>("keepClear");
    QTest::addColumn<QPoint>("expected");

    const QRect screen(0, 0, 1280, 1024);
    QTest::newRow("fits: kept") << QRect(256, 204, 438, 465) << screen << QVector<QRect>() << QVector<QRect>()
                                << QPoint(256, 204);
    QTest::newRow("off the right edge")
        << QRect(768, 204, 640, 480) << screen << QVector<QRect>() << QVector<QRect>() << QPoint(640, 204);
    QTest::newRow("off the bottom right")
        << QRect(900, 900, 574, 354) << screen << QVector<QRect>() << QVector<QRect>() << QPoint(706, 670);
    QTest::newRow("larger than the area")
        << QRect(100, 100, 1300, 1100) << screen << QVector<QRect>() << QVector<QRect>() << QPoint(0, 0);
    QTest::newRow("panel on the left and top") << QRect(10, 10, 200, 100) << QRect(64, 32, 1216, 992)
                                               << QVector<QRect>() << QVector<QRect>() << QPoint(64, 32);
    QTest::newRow("clear of the calibration window")
        << QRect(768, 204, 574, 354) << screen << QVector<QRect>()
        << QVector<QRect> { { 400, 512, 472, 316 } } << QPoint(706, 158);
    QTest::newRow("clear of a window on its left")
        << QRect(100, 0, 500, 600) << QRect(0, 0, 800, 600) << QVector<QRect>()
        << QVector<QRect> { { 0, 0, 300, 600 } } << QPoint(300, 0);
    QTest::newRow("on a window of its kind")
        << QRect(100, 100, 200, 100) << screen << QVector<QRect> { { 100, 100, 200, 100 } }
        << QVector<QRect>() << QPoint(132, 132);
    QTest::newRow("on two of its kind") << QRect(100, 100, 200, 100) << screen
                                        << QVector<QRect> { { 100, 100, 200, 100 }, { 132, 132, 200, 100 } }
                                        << QVector<QRect>() << QPoint(164, 164);
    QTest::newRow("of its kind in the corner")
        << QRect(1080, 924, 200, 100) << screen << QVector<QRect> { { 1080, 924, 200, 100 } }
        << QVector<QRect>() << QPoint(1048, 892);
}

void TestDesktop::placement()
{
    QFETCH(QRect, preferred);
    QFETCH(QRect, available);
    QFETCH(QVector<QRect>, sameKind);
    QFETCH(QVector<QRect>, keepClear);
    QFETCH(QPoint, expected);

    const QRect placed = WindowPlacement::place(preferred, available, sameKind, keepClear);
    QCOMPARE(placed.topLeft(), expected);
    QCOMPARE(placed.size(), preferred.size());
}

void TestDesktop::placementProperties()
{
    QRandomGenerator random(12);
    for (int i = 0; i < 20000; ++i) {
        const QRect available(random.bounded(-2000, 2000), random.bounded(-2000, 2000),
            random.bounded(200, 4000), random.bounded(200, 3000));
        const QRect preferred(random.bounded(-5000, 5000), random.bounded(-5000, 5000),
            random.bounded(1, 1500), random.bounded(1, 1500));
        QVector<QRect> sameKind;
        if (random.bounded(2))
            sameKind << WindowPlacement::fitInto(preferred, available);
        const QRect placed = WindowPlacement::place(preferred, available, sameKind);

        QCOMPARE(placed.size(), preferred.size());
        if (preferred.width() <= available.width() && preferred.height() <= available.height())
            QVERIFY2(available.contains(placed), qPrintable(QStringLiteral("case %1").arg(i)));
        else
            QVERIFY(available.contains(placed.topLeft()));
        if (sameKind.isEmpty() && available.contains(preferred))
            QCOMPARE(placed, preferred);
        if (!sameKind.isEmpty() && available.width() > preferred.width() + 2 * WindowPlacement::CascadeStep
            && available.height() > preferred.height() + 2 * WindowPlacement::CascadeStep)
            QVERIFY(placed.topLeft() != sameKind.first().topLeft());
    }
}

void TestDesktop::windowsOnScreen()
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const int w = area.width();
    const int h = area.height();
    struct Expected
    {
        QWidget *window;
        QPoint given; // null: no place of its own
    };
    const Expected windows[] = {
        { mainWindow.get(), QPoint(w / 5, h / 5) },
        { secondMainWindow.get(), QPoint() },
        { picture.get(), QPoint(3 * (w / 5), h / 5) },
        { picture->inspector(), QPoint() },
        { pointCloud.get(), QPoint(3 * (w / 5), h / 5) },
        { calibration, QPoint(w / 16 * 5, h / 2) },
        { calibration->curveWindow(), QPoint() },
        { firmware, QPoint() },
        { lens, QPoint() },
        { checkBoard.get(), QPoint() },
    };
    for (const Expected &e : windows) {
        const QRect frame = e.window->frameGeometry();
        const QString name = QString::fromLatin1(e.window->metaObject()->className());
        QVERIFY2(e.window->isVisible(), qPrintable(name));
        QVERIFY2(area.contains(frame),
            qPrintable(name
                + QStringLiteral(" at %1,%2 %3x%4")
                      .arg(frame.x())
                      .arg(frame.y())
                      .arg(frame.width())
                      .arg(frame.height())));
        // Where the given place lies wholly on the screen, the window is there.
        if (!e.given.isNull() && area.contains(QRect(e.given, frame.size())))
            QCOMPARE(frame.topLeft(), e.given);
    }
    QVERIFY(secondMainWindow->frameGeometry().topLeft() != mainWindow->frameGeometry().topLeft());
    QVERIFY(!calibration->curveWindow()->frameGeometry().intersects(calibration->frameGeometry()));
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
