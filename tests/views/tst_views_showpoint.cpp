#include "SensorGeometry.h"
#include "views/ShowPoint.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

class TestInspector : public QObject
{
    Q_OBJECT

private slots:
    void valueTexts_data();
    void valueTexts();
    void otherFrameTypesKeepText();
    void startPositionAndCentre_data();
    void startPositionAndCentre();
    void rangeClampsPoint();
    void showLabelFollowsCheckBox();
};

void TestInspector::valueTexts_data()
{
    QTest::addColumn<int>("frameType");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("depth invalid") << 1 << 30000 << "NA";
    QTest::newRow("depth last valid") << 1 << 29999 << "1499  CM";
    QTest::newRow("depth floor") << 1 << 10 << "0  CM";
    QTest::newRow("point cloud invalid") << 3 << 65300 << "NA";
    QTest::newRow("point cloud") << 3 << 2000 << "100  CM";
    QTest::newRow("amplitude") << 0 << 1234 << "1234  LSB";
    QTest::newRow("grayscale below 2048") << 2 << 2000 << "-48  LUM";
}

void TestInspector::valueTexts()
{
    QFETCH(int, frameType);
    QFETCH(int, value);
    QFETCH(QString, text);
    useM10();
    ShowPoint inspector;
    inspector.showValue(quint8(frameType), value);
    QCOMPARE(inspector.findChild<QLineEdit *>("lineEditPointValue")->text(), text);
}

void TestInspector::otherFrameTypesKeepText()
{
    useM10();
    ShowPoint inspector;
    inspector.showValue(0, 77);
    inspector.showValue(4, 1000);
    inspector.showValue(255, 1000);
    QCOMPARE(inspector.valueText(), QStringLiteral("77  LSB"));
}

void TestInspector::startPositionAndCentre_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QPoint>("centre");
    QTest::newRow("Kavrix M10") << 160 << 60 << QPoint(80, 30);
    QTest::newRow("Kavrix M20") << 320 << 240 << QPoint(160, 120);
}

void TestInspector::startPositionAndCentre()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QPoint, centre);
    useSensor(width, height);
    ShowPoint inspector;
    QCOMPARE(inspector.point(), QPoint(80, 30));
    QCOMPARE(inspector.maximum(), QPoint(width - 1, height - 1));

    inspector.setPoint(3, 4);
    QSignalSpy changed(&inspector, &ShowPoint::pointChanged);
    QTest::mouseClick(inspector.findChild<QPushButton *>("pushButtonSetCenter"), Qt::LeftButton);
    QCOMPARE(inspector.point(), centre);
    QCOMPARE(changed.count(), 2); // once per spin box
}

void TestInspector::rangeClampsPoint()
{
    useM20();
    ShowPoint inspector;
    inspector.setPoint(-5, 1000);
    QCOMPARE(inspector.point(), QPoint(0, 239));

    inspector.setPoint(300, 200);
    inspector.setRange(159, 59);
    QCOMPARE(inspector.point(), QPoint(159, 59));

    // No sensor geometry: the range collapses to 0, never below.
    inspector.setRange(-1, -1);
    QCOMPARE(inspector.point(), QPoint(0, 0));
    QCOMPARE(inspector.maximum(), QPoint(0, 0));
}

void TestInspector::showLabelFollowsCheckBox()
{
    useM10();
    ShowPoint inspector;
    auto *box = inspector.findChild<QCheckBox *>("checkBoxShowLabel");
    QVERIFY(box->isChecked());
    QVERIFY(!inspector.showLabel()); // set by the main window's "Show Value"

    box->setChecked(false);
    QVERIFY(!inspector.showLabel());
    box->setChecked(true);
    QVERIFY(inspector.showLabel());
}

QTEST_MAIN(TestInspector)
#include "tst_views_showpoint.moc"
