// A full disk end to end, on the real windows against kavrix-sim: a clear
// message, what was saved before kept, and the same action working again once
// there is room. The frame logger's own full-disk cases are in
// tst_app_framelogger; the cable pulled mid-stream is in tst_app_mainwindow and
// tst_frames_liveview, mid-flash-programming in tst_calibration_endtoend and
// tst_calibration_window, mid-firmware-transfer in tst_firmware_window.
#include "calibration/Calibration.h"
#include "tests/support/WindowTestSupport.h"

#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

using namespace WindowTest;

namespace {

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Every file of `folder` with its bytes.
QByteArrayList snapshot(const QString &folder)
{
    QByteArrayList files;
    for (const QString &name : filesIn(folder))
        files << name.toLatin1() + ": " + readFile(folder + '/' + name);
    return files;
}

bool created(const QStringList &lines)
{
    return !lines.filter(QStringLiteral("Working dir created to: ")).isEmpty();
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void diskFullWhileSavingCalibrationFiles();
};

void TestFaults::diskFullWhileSavingCalibrationFiles()
{
    Rig rig;
    QVERIFY(rig.start({ "--model", "m10" }));
    QVERIFY(created(rig.press("pushButtonGetInfo")));
    const QString folder = rig.workingDir();
    const QStringList drnuFiles { "DRNU_Image.txt", "DRNU_Lut.c", "DRNU_LutAverage.txt" };
    for (const QString &name : drnuFiles)
        QVERIFY(writeFile(folder + '/' + name, "earlier calibration\n"));
    const QByteArrayList before = snapshot(folder);
    QVERIFY(rig.trigger("DRNU Calibration"));
    QPointer<Calibration> calibration = topLevel<Calibration>();
    QVERIFY(calibration);
    rig.sim->clearTranscript();
    {
        // Save anyway without a sweep; then, the files not written, do not program.
        MessageBoxAnswers answers({ QMessageBox::Yes, QMessageBox::No });
        FileSizeLimit full(100000);
        QVERIFY(full.isActive());
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
        full.lift();
        QCOMPARE(answers.texts().size(), 2);
        QVERIFY(answers.texts().at(1).contains("were not written"));
    }
    const QString message = calibration->messages().last();
    QVERIFY2(message.startsWith("Write drnu") && message.contains("File too large")
            && message.endsWith(" - the table was not programmed"),
        qPrintable(message));
    QCOMPARE(snapshot(folder), before);
    QVERIFY(!rig.sim->transcript().contains("23 23 0D"));

    // With room again the files are written; the window is closed in the wait before programming.
    connect(calibration.data(), &Calibration::messageShown, this, [&](const QString &text) {
        if (text.startsWith("Save DRNU calibration file finished"))
            QTimer::singleShot(0, calibration.data(), &QWidget::close);
    });
    {
        MessageBoxAnswers answers({ QMessageBox::Yes });
        child<QPushButton>(calibration, "pushButtonSaveProg")->click();
    }
    // The test runs outside any event loop: deliver the window's deferred deletion.
    QVERIFY(rig.waitUntil(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return calibration.isNull();
        },
        5000));
    pump(100);
    QCOMPARE(
        rig.sim->transcript().filter(QRegularExpression("^([0-9A-F]{2} ){63}[0-9A-F]{2}$")), QStringList());
    QCOMPARE(filesIn(folder), drnuFiles);
    QVERIFY(QFileInfo(folder + "/DRNU_Image.txt").size() > 100000);
    QCOMPARE(readFile(folder + "/DRNU_LutAverage.txt").count('\n'), 23);
    QVERIFY(readFile(folder + "/DRNU_Lut.c").endsWith("};\n"));
}

QTEST_MAIN(TestFaults)
#include "tst_hardening_faults.moc"
