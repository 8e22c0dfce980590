#include "views/RangeSlider.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

namespace {

// Records every signal of a slider as text, in the order of emission.
class SignalLog : public QObject
{
public:
    explicit SignalLog(RangeSlider *slider)
    {
        connect(slider, &RangeSlider::lowerValueChanged, this,
            [this](int v) { entries << QStringLiteral("lower %1").arg(v); });
        connect(slider, &RangeSlider::upperValueChanged, this,
            [this](int v) { entries << QStringLiteral("upper %1").arg(v); });
        connect(slider, &RangeSlider::rangeChanged, this,
            [this](int lo, int hi) { entries << QStringLiteral("range %1 %2").arg(lo).arg(hi); });
    }
    QStringList entries;
};

void press(RangeSlider &slider, int x, int y = 15)
{
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}

void release(RangeSlider &slider, int x, int y = 15)
{
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}

// A click: press and release at the same place.
void click(RangeSlider &slider, int x, int y = 15)
{
    press(slider, x, y);
    release(slider, x, y);
}

void move(RangeSlider &slider, int x, Qt::MouseButtons buttons = Qt::LeftButton)
{
    const QPoint pos(x, 15);
    QMouseEvent event(QEvent::MouseMove, pos, slider.mapToGlobal(pos), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&slider, &event);
}

// The main window's slider: 295 x 30, range 0 to 8000.
void setUp(RangeSlider &slider, int lower, int upper, int minimum = 0, int maximum = 8000)
{
    slider.resize(295, 30);
    slider.setRange(minimum, maximum);
    slider.setLowerValue(lower);
    slider.setUpperValue(upper);
}

QColor pixel(RangeSlider &slider, int x, int y)
{
    return slider.grab().toImage().pixelColor(x, y);
}

} // namespace

class TestRangeSlider : public QObject
{
    Q_OBJECT

private slots:
    void setRangeSignalOrder();
    void endsPassingEachOther();
    void settersClampToRangeOnly();
    void handlePositions();
    void pressSteps_data();
    void pressSteps();
    void pressBetweenHandles_data();
    void pressBetweenHandles();
    void pressOutsideBarHeight();
    void dragHandles();
    void selectionColourFollowsEnabledState();
    void emptyRange();
};

void TestRangeSlider::setRangeSignalOrder()
{
    RangeSlider slider(nullptr);
    SignalLog log(&slider);
    slider.setRange(0, 8000);
    QCOMPARE(log.entries,
        QStringList({ "lower 0", "upper 3000", "range 0 3000", "lower 0", "upper 8000", "range 0 8000" }));
    QCOMPARE(slider.lowerValue(), 0);
    QCOMPARE(slider.upperValue(), 8000);
}

void TestRangeSlider::endsPassingEachOther()
{
    RangeSlider slider(nullptr);
    SignalLog log(&slider);
    slider.setMinimum(5000); // above the maximum of 3000: the ends swap roles
    QCOMPARE(log.entries, QStringList({ "lower 3000", "upper 5000", "range 3000 5000" }));
    QCOMPARE(slider.minimum(), 3000);
    QCOMPARE(slider.maximum(), 5000);

    log.entries.clear();
    slider.setMaximum(100); // below the minimum of 3000
    QCOMPARE(log.entries, QStringList({ "lower 100", "upper 3000", "range 100 3000" }));
}

void TestRangeSlider::settersClampToRangeOnly()
{
    RangeSlider slider(nullptr);
    setUp(slider, 0, 2000);
    QSignalSpy lower(&slider, &RangeSlider::lowerValueChanged);
    slider.setLowerValue(9000);
    QCOMPARE(slider.lowerValue(), 8000); // may pass the upper value
    slider.setLowerValue(-5);
    QCOMPARE(slider.lowerValue(), 0);
    slider.setLowerValue(0); // unchanged, still announced
    QCOMPARE(lower.count(), 3);
}

void TestRangeSlider::handlePositions()
{
    RangeSlider slider(nullptr);
    setUp(slider, 0, 8000);
    QCOMPARE(slider.firstHandleRect(), QRectF(1, 9, 11, 11));
    QCOMPARE(slider.secondHandleRect(), QRectF(283, 9, 11, 11));

    // The selection is painted between the handles.
    const QImage image = slider.grab().toImage();
    QCOMPARE(image.pixelColor(150, 14), QColor(30, 144, 255));

    // Equal values: the second handle sits one handle width to the right.
    slider.setLowerValue(4000);
    slider.setUpperValue(4000);
    QCOMPARE(slider.firstHandleRect().left(), 136.0); // trunc(0.5 * 271 + 1)
    QCOMPARE(slider.secondHandleRect().left(), 147.0);
}

void TestRangeSlider::pressSteps_data()
{
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("expectedLower");
    QTest::addColumn<int>("expectedUpper");

    // Left of the first handle (at 136 for 4000 of 8000).
    QTest::newRow("left, tenth of 8000") << 8000 << 4000 << 8000 << 50 << 3200 << 8000;
    QTest::newRow("left, limited to minimum") << 8000 << 500 << 8000 << 5 << 0 << 8000;
    QTest::newRow("left, range 0-5 steps by 1") << 5 << 3 << 5 << 50 << 2 << 5;
    // Right of the second handle (at 147 for 4000 of 8000).
    QTest::newRow("right, tenth of 8000") << 8000 << 0 << 4000 << 200 << 0 << 4800;
    QTest::newRow("right, limited to maximum") << 8000 << 0 << 7900 << 294 << 0 << 8000;
    // On a handle: a drag may start, no step.
    QTest::newRow("on first handle") << 8000 << 4000 << 8000 << 140 << 4000 << 8000;
}

void TestRangeSlider::pressSteps()
{
    QFETCH(int, maximum);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, x);
    RangeSlider slider(nullptr);
    setUp(slider, lower, upper, 0, maximum);
    click(slider, x);
    QTEST(slider.lowerValue(), "expectedLower");
    QTEST(slider.upperValue(), "expectedUpper");
}

void TestRangeSlider::pressBetweenHandles_data()
{
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("expectedLower");
    QTest::addColumn<int>("expectedUpper");

    // Handles at 1 and 283: the gap runs from 12 to 283, its middle at 147.5.
    QTest::newRow("just before middle") << 0 << 8000 << 147 << 800 << 8000;
    QTest::newRow("middle goes to second") << 0 << 8000 << 148 << 0 << 7200;
    // Handles at 255 and 283: one step would cross the other handle.
    QTest::newRow("first stops at upper") << 7500 << 8000 << 268 << 8000 << 8000;
    QTest::newRow("second stops at lower") << 7500 << 8000 << 280 << 7500 << 7500;
}

void TestRangeSlider::pressBetweenHandles()
{
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, x);
    RangeSlider slider(nullptr);
    setUp(slider, lower, upper);
    click(slider, x);
    QTEST(slider.lowerValue(), "expectedLower");
    QTEST(slider.upperValue(), "expectedUpper");
}

void TestRangeSlider::pressOutsideBarHeight()
{
    RangeSlider slider(nullptr);
    setUp(slider, 4000, 4000);
    QSignalSpy lower(&slider, &RangeSlider::lowerValueChanged);
    QSignalSpy upper(&slider, &RangeSlider::upperValueChanged);

    click(slider, 50, 1);
    click(slider, 250, 29); // above H - 2 = 28
    QCOMPARE(lower.count() + upper.count(), 0);

    click(slider, 50, 2);
    QCOMPARE(slider.lowerValue(), 3200);
    click(slider, 250, 28);
    QCOMPARE(slider.upperValue(), 4800);
}

void TestRangeSlider::dragHandles()
{
    RangeSlider slider(nullptr);
    setUp(slider, 0, 8000);

    press(slider, 6); // centre of the first handle
    move(slider, 141);
    QCOMPARE(slider.lowerValue(), 3985); // trunc(135 / 271 * 8000)
    move(slider, 290); // beyond the second handle: stops at its value
    QCOMPARE(slider.lowerValue(), 8000);
    move(slider, -50);
    QCOMPARE(slider.lowerValue(), 0);
    release(slider, -50);
    move(slider, 141); // drag over
    QCOMPARE(slider.lowerValue(), 0);

    press(slider, 290); // second handle, 2 px right of its centre
    move(slider, 154);
    QCOMPARE(slider.upperValue(), 3985);
    move(slider, 150, Qt::NoButton); // tracking without a button is ignored
    QCOMPARE(slider.upperValue(), 3985);
    move(slider, 10); // left of the first handle: stops at its value
    QCOMPARE(slider.upperValue(), 0);
    release(slider, 10);
    QCOMPARE(slider.lowerValue(), 0);
}

void TestRangeSlider::selectionColourFollowsEnabledState()
{
    RangeSlider slider(nullptr);
    setUp(slider, 0, 8000);
    slider.setEnabled(false);
    QCOMPARE(pixel(slider, 150, 14), QColor(Qt::darkGray));
    slider.setEnabled(true);
    QCOMPARE(pixel(slider, 150, 14), QColor(30, 144, 255));
}

void TestRangeSlider::emptyRange()
{
    RangeSlider slider(nullptr);
    setUp(slider, 5, 5, 5, 5);
    QCOMPARE(slider.firstHandleRect().left(), 1.0);
    QCOMPARE(slider.secondHandleRect().left(), 12.0);
    slider.grab();

    for (int x : { 0, 6, 12, 17, 100, 294 }) {
        press(slider, x);
        move(slider, x + 40);
        move(slider, x - 40);
        release(slider, x - 40);
    }
    QCOMPARE(slider.lowerValue(), 5);
    QCOMPARE(slider.upperValue(), 5);

    // No movable length either.
    slider.resize(24, 11);
    slider.setRange(0, 100);
    press(slider, 6, 5);
    move(slider, 7);
    QCOMPARE(slider.lowerValue(), 0);
    move(slider, 20); // past the second handle
    QCOMPARE(slider.lowerValue(), 100);
    slider.grab();
}

QTEST_MAIN(TestRangeSlider)
#include "tst_views_rangeslider.moc"
