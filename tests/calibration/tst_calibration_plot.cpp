// The "DRNU Average" plot window and the calibration window's form, without a camera.
#include "calibration/Calibration.h"
#include "calibration/InfoDRNUCurve.h"
#include "device/TofDevice.h"
#include "tests/support/SimProcess.h"

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
    void calibrationWithoutCamera();
};

void TestCalibrationPlot::initTestCase()
{
    isolateRegistry();
}

void TestCalibrationPlot::emptyPlot()
{
    InfoDRNUCurve plot;
    // Only the zero line, over -400 to 400 mm.
    const QwtPlotItemList items = plot.plot()->itemList(QwtPlotItem::Rtti_PlotCurve);
    QCOMPARE(items.size(), 1);
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
    plot.updateCurve();
    plot.updateCurve();
    // Two updates leave 23 points per curve, not 46.
    QCOMPARE(plot.meanPoints().size(), 23);
    QCOMPARE(plot.meanPoints().last(), QPointF(22, 120));
    // The temperature is the change since step 0, on the millimetre axis.
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

void TestCalibrationPlot::calibrationWithoutCamera()
{
    TofDevice device; // no camera in this test's registry
    QPointer<Calibration> window = new Calibration(&device);
    auto *renew = window->findChild<QSpinBox *>("spinBoxRenewValue");
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
