// The "DRNU Average" plot window and the calibration window's form, without a camera.
#include "calibration/Calibration.h"
#include "calibration/InfoDRNUCurve.h"
#include "device/TofDevice.h"
#include "tests/support/SimProcess.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>

class TestCalibrationPlot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyPlot();
    void curvesFromCurveData();
    void resizeGivesThePlotTheWindow();
    void calibrationForm();
};

void TestCalibrationPlot::initTestCase()
{
    isolateRegistry();
}

void TestCalibrationPlot::emptyPlot()
{
    InfoDRNUCurve plot;
    QCOMPARE(plot.windowTitle(), QStringLiteral("DRNU Average"));
    QCOMPARE(plot.objectName(), QStringLiteral("InfoDRNUCurve"));
    QCOMPARE(plot.size(), QSize(574, 354));
    QVERIFY(!plot.isVisible());
    QVERIFY(!plot.testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(plot.windowFlags() & Qt::CustomizeWindowHint);
    QVERIFY(plot.windowFlags() & Qt::WindowTitleHint);
    QVERIFY(!(plot.windowFlags() & Qt::WindowCloseButtonHint));

    // Only the red dash-dot zero line, over -400 to 400 mm.
    const QwtPlotItemList items = plot.plot()->itemList(QwtPlotItem::Rtti_PlotCurve);
    QCOMPARE(items.size(), 1);
    auto *zero = static_cast<QwtPlotCurve *>(items.first());
    QCOMPARE(zero->pen().color(), QColor(255, 0, 0));
    QCOMPARE(zero->pen().style(), Qt::DashDotLine);
    QCOMPARE(zero->dataSize(), size_t(2));
    QCOMPARE(zero->sample(1), QPointF(23, 0));
    const QwtScaleDiv &y = plot.plot()->axisScaleDiv(QwtPlot::yLeft);
    QCOMPARE(y.lowerBound(), -400.0);
    QCOMPARE(y.upperBound(), 400.0);
    QVERIFY(std::all_of(plot.curveData().cbegin(), plot.curveData().cend(), [](qint32 v) { return v == 0; }));
}

void TestCalibrationPlot::curvesFromCurveData()
{
    InfoDRNUCurve plot;
    std::array<qint32, 23> means {};
    std::array<qint32, 23> temperatures {};
    for (int s = 0; s < 23; ++s) {
        means[s] = 10 * s - 100;
        temperatures[s] = 640 + 40 * s / 22;
    }
    plot.setCurveData(means, temperatures);
    QCOMPARE(plot.curveData()[23], 640);
    QCOMPARE(plot.curveData()[45], 680);
    plot.updateCurve();
    plot.updateCurve();
    // Two updates leave 23 points per curve, not 46.
    QCOMPARE(plot.meanPoints().size(), 23);
    QCOMPARE(plot.temperaturePoints().size(), 23);
    QCOMPARE(plot.meanPoints().last(), QPointF(22, 120));
    // The temperature is the change since step 0, on the millimetre axis.
    QCOMPARE(plot.temperaturePoints().first(), QPointF(0, 0));
    QCOMPARE(plot.temperaturePoints().last(), QPointF(22, 40));
    QCOMPARE(plot.plot()->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 3);
}

void TestCalibrationPlot::resizeGivesThePlotTheWindow()
{
    InfoDRNUCurve plot;
    plot.show();
    plot.resize(800, 500);
    QTRY_COMPARE(plot.plot()->geometry(), QRect(0, 0, 800, 500));
}

void TestCalibrationPlot::calibrationForm()
{
    TofDevice device; // no camera in this test's registry
    QPointer<Calibration> window = new Calibration(&device);
    QCOMPARE(window->windowTitle(), QStringLiteral("Calibration"));
    QCOMPARE(window->size(), QSize(472, 316));
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    auto *boxLength = window->findChild<QSpinBox *>("spinBoxBoxLength");
    QCOMPARE(boxLength->value(), 320);
    QCOMPARE(boxLength->maximum(), 1000);
    QCOMPARE(boxLength->singleStep(), 10);
    auto *renew = window->findChild<QSpinBox *>("spinBoxRenewValue");
    QCOMPARE(renew->maximum(), 10000);
    QCOMPARE(window->findChild<QPushButton *>("pushButtonRunDRNU")->text(), QStringLiteral("2.  Calibrate"));
    QCOMPARE(
        window->findChild<QPushButton *>("pushButtonSaveProg")->text(), QStringLiteral("3.  Save_Flash"));
    QCOMPARE(window->findChild<QPushButton *>("pushButtonRenewDRNU")->geometry(), QRect(310, 130, 121, 31));
    QCOMPARE(window->findChild<QProgressBar *>("progressBarSaveProg")->geometry(), QRect(65, 270, 370, 20));
    QVERIFY(window->findChild<QLabel *>("labelStatus")->text().startsWith("No Kavrix M10 or M20 camera"));
    QVERIFY(!window->curveWindow()->isVisible());

    // Without a camera "2.  Calibrate" says so and starts nothing.
    window->findChild<QPushButton *>("pushButtonRunDRNU")->click();
    QVERIFY(!window->sweep().isRunning());
    QVERIFY(window->messages().last().startsWith("No camera"));

    // renewDRNU on the zeroed table shows the plot with the ramp it subtracts.
    renew->setValue(6000);
    window->findChild<QPushButton *>("pushButtonRenewDRNU")->click();
    QVERIFY(window->curveWindow()->isVisible());
    QCOMPARE(window->sweep().dllStepSize, 600);
    QCOMPARE(window->curveWindow()->meanPoints().at(2), QPointF(2, -1200));

    window->show();
    window->close();
    QTRY_VERIFY(!window);
}

QTEST_MAIN(TestCalibrationPlot)
#include "tst_calibration_plot.moc"
