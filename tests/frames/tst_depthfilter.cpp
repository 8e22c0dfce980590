#include "frames/DepthFilter.h"

#include <QtTest>

namespace {

// Runs one frame through the filter and returns the output.
QVector<quint16> run(DepthFilter &filter, QVector<quint16> frame)
{
    filter.filterFrame(frame.data());
    return frame;
}

quint16 runPixel(DepthFilter &filter, quint16 value)
{
    quint16 v = value;
    filter.filterFrame(&v);
    return v;
}

} // namespace

class TestDepthFilter : public QObject
{
    Q_OBJECT

private slots:
    void disabledLeavesFrameAlone();
    void invalidValuesPassEveryMode();
    void simple();
    void normalArithmetic();
    void normalGateAfterTenSamples();
    void complexGain();
    void complexStartsUnseen();
    void modeChangeKeepsEstimates();
};

void TestDepthFilter::disabledLeavesFrameAlone()
{
    DepthFilter filter(4);
    filter.setMode(DepthFilter::Disabled);
    const QVector<quint16> frame { 0, 1000, 29999, 65300 };
    QCOMPARE(run(filter, frame), frame);
}

void TestDepthFilter::invalidValuesPassEveryMode()
{
    for (int mode = 0; mode < 4; ++mode) {
        DepthFilter filter(5);
        filter.setMode(mode);
        const QVector<quint16> invalid { 30000, 65300, 65400, 65500, 65535 };
        for (int k = 0; k < 3; ++k)
            QCOMPARE(run(filter, invalid), invalid);
        // They fed no state: the estimates are still the start values.
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(filter.estimate(i), 0.0);
            QCOMPARE(filter.sampleCount(i), 0);
        }
    }
}

void TestDepthFilter::simple()
{
    DepthFilter filter(1);
    filter.setMode(DepthFilter::Simple);
    // From the zero start a jump of more than 500 takes the sample as it is.
    QCOMPARE(runPixel(filter, 1000), quint16(1000));
    // 0.9 x 1000 + 0.1 x 1004 = 1000.4, truncated.
    QCOMPARE(runPixel(filter, 1004), quint16(1000));
    QVERIFY(qAbs(filter.estimate(0) - 1000.4) < 1e-9);
    // 1004 -> 1505 is a jump of 501: the sample itself.
    QCOMPARE(runPixel(filter, 1505), quint16(1505));
    // A change of exactly 500 is smoothed: 0.9 x 1505 + 0.1 x 2005 = 1555.
    QCOMPARE(runPixel(filter, 2005), quint16(1555));
    // Truncation, not rounding: 0.9 x 1555 + 0.1 x 1564 = 1555.9.
    QCOMPARE(runPixel(filter, 1564), quint16(1555));

    // A near value from the zero start is pulled toward zero: 0.1 x 300.
    DepthFilter fresh(1);
    fresh.setMode(DepthFilter::Simple);
    QCOMPARE(runPixel(fresh, 300), quint16(30));
}

void TestDepthFilter::normalArithmetic()
{
    DepthFilter filter(1);
    filter.setMode(DepthFilter::Normal);
    // 1000 is 500 or more away from the zero start: reset to the sample.
    QCOMPARE(runPixel(filter, 1000), quint16(1000));
    QCOMPARE(filter.sampleCount(0), 0);
    // Statistics restarted: R = 0, so K = 1 and the output is the sample.
    QCOMPARE(runPixel(filter, 1010), quint16(1010));
    QCOMPARE(runPixel(filter, 1020), quint16(1020));
    QCOMPARE(filter.sampleCount(0), 2);
    // n = 2: R = (1020^2 + 1000^2 - 2020^2 / 2) / 1 = 200; P' = 2, K = 2 / 202.
    QCOMPARE(runPixel(filter, 1000), quint16(1020));
    QVERIFY(qAbs(filter.estimate(0) - (1020 - 20 * 2.0 / 202)) < 1e-9);
    // n = 3: R = 133.33, P' = 2 + 2 x 200 / 202.
    const double p = 2.0 + 2.0 * 200.0 / 202.0;
    const double k = p / (p + 400.0 / 3.0);
    const double before = filter.estimate(0);
    QCOMPARE(runPixel(filter, 1000), quint16(qRound(before + k * (1000 - before))));
}

void TestDepthFilter::normalGateAfterTenSamples()
{
    // Early on the gate is 500: a change of 200 is smoothed in.
    {
        DepthFilter filter(1);
        filter.setMode(DepthFilter::Normal);
        runPixel(filter, 1000);
        for (int k = 0; k < 4; ++k)
            runPixel(filter, k % 2 ? 1010 : 1000);
        QVERIFY(runPixel(filter, 1200) < 1200);
        QCOMPARE(filter.sampleCount(0), 5);
    }
    // After more than 10 samples it is 6 x sqrt(R), R counting the new sample
    // too (about 6 x 20 after 100 steady samples): the same change restarts
    // the pixel at the sample.
    {
        DepthFilter filter(1);
        filter.setMode(DepthFilter::Normal);
        runPixel(filter, 1000);
        for (int k = 0; k < 101; ++k)
            runPixel(filter, k % 2 ? 1010 : 1000);
        QCOMPARE(filter.sampleCount(0), 101);
        QCOMPARE(runPixel(filter, 1200), quint16(1200));
        QCOMPARE(filter.sampleCount(0), 0);
        QCOMPARE(filter.estimate(0), 1200.0);
        // A sample 500 away resets at any time.
        QCOMPARE(runPixel(filter, 1700), quint16(1700));
    }
    // A perfectly steady pixel has R = 0 and a zero gate once past 10 samples.
    {
        DepthFilter filter(1);
        filter.setMode(DepthFilter::Normal);
        for (int k = 0; k < 12; ++k)
            runPixel(filter, 1000);
        QCOMPARE(filter.sampleCount(0), 11);
        QCOMPARE(runPixel(filter, 1000), quint16(1000));
        QCOMPARE(filter.sampleCount(0), 0);
    }
}

void TestDepthFilter::complexGain()
{
    DepthFilter filter(1);
    filter.setMode(DepthFilter::Complex);
    QCOMPARE(runPixel(filter, 1000), quint16(1000)); // unseen: gain 1
    QCOMPARE(runPixel(filter, 1000), quint16(1000)); // unchanged: gain 0.1
    // A change of 4 gives gain 0.1 / 4 = 0.025: 1000 + 0.025 x 4.
    QCOMPARE(runPixel(filter, 1004), quint16(1000));
    QVERIFY(qAbs(filter.estimate(0) - 1000.1) < 1e-9);
    // Unchanged again: gain 0.1: 0.9 x 1000.1 + 0.1 x 1004.
    runPixel(filter, 1004);
    QVERIFY(qAbs(filter.estimate(0) - (0.9 * 1000.1 + 100.4)) < 1e-9);
    // Rounded, not truncated: 0.9 x 1000.49 + 0.1 x 1005 -> 1000.94 gives 1001.
    DepthFilter rounding(1);
    rounding.setMode(DepthFilter::Complex);
    runPixel(rounding, 1000);
    runPixel(rounding, 1009); // d = 9: gain 0.0111, estimate 1000.1
    QCOMPARE(runPixel(rounding, 1009), quint16(qRound(0.9 * (1000 + 0.1 / 9 * 9) + 100.9)));
    // A jump of more than 500 restarts at the sample.
    QCOMPARE(runPixel(rounding, 2000), quint16(2000));
}

void TestDepthFilter::complexStartsUnseen()
{
    DepthFilter filter(3);
    filter.setMode(DepthFilter::Complex);
    // Every pixel takes its first valid sample whole, whatever was sent before.
    QCOMPARE(run(filter, { 65300, 30000, 400 }), (QVector<quint16> { 65300, 30000, 400 }));
    QCOMPARE(run(filter, { 300, 200, 400 }), (QVector<quint16> { 300, 200, 400 }));
}

void TestDepthFilter::modeChangeKeepsEstimates()
{
    DepthFilter filter(1);
    filter.setMode(DepthFilter::Simple);
    runPixel(filter, 1000);
    runPixel(filter, 1004);
    const double estimate = filter.estimate(0);
    // Normal starts its statistics afresh (K = 1) but from the kept estimate.
    filter.setMode(DepthFilter::Normal);
    QCOMPARE(filter.sampleCount(0), 0);
    QCOMPARE(filter.estimate(0), estimate);
    QCOMPARE(runPixel(filter, 1010), quint16(1010));
    // Back to Disabled: the frame passes.
    filter.setMode(DepthFilter::Disabled);
    QCOMPARE(runPixel(filter, 5), quint16(5));
}

QTEST_GUILESS_MAIN(TestDepthFilter)
#include "tst_depthfilter.moc"
