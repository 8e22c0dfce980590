// The device-information query and the lens window, end to end: the real main
// window against kavrix-sim.
#include "app/MainWindow.h"
#include "device/DeviceState.h"
#include "device/TofDevice.h"
#include "deviceinfo/DeviceInfo.h"
#include "deviceinfo/LensInfo.h"
#include "tests/support/WindowTestSupport.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace WindowTest;

class TestDeviceInfoQuery : public QObject
{
    Q_OBJECT

private slots:
    void reply_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("lines"); // among the lines the query adds
        QTest::addColumn<QString>("lutLabel");
        QTest::newRow("m10 with lens")
            << "--model m10 --info-identity 12345 --info-wafer 17 --info-chip 4242 --info-hw 123 --info-fw "
               "1234 "
               "--info-drnu 1 --info-lut 7,80,900 --info-lens 1 --info-lens-values "
               "1000.5,80.5,30.25,113,112.5"
            << "12000_17_4242"
            << QStringList { "Machine ID: 12000          ModFreq: 345MHz",
                   "Wafter ID: 17               Chip ID: 4242",
                   "Hardware Ver:  1.2.3    Firmware Ver:  12.3.4", "DRNU LUT file is found: <780900>",
                   "Lens param is found", "camera_factor1000.50",
                   "intrinsics: [80.50  30.25  113.00  112.50]" }
            << "DRNU LUT:  Available";
        // Only 1 counts as "found" for the lens; the summary says found for any LUT flag but 0.
        QTest::newRow("flags other than one")
            << "--model m10 --info-identity 24 --info-wafer 5 --info-chip 9 --info-drnu 2 --info-lens 2 "
               "--info-lens-values 1500,81,31,114,115 --info-lut-present 2"
            << "0_5_9"
            << QStringList { "DRNU LUT file is found: <000>", "intrinsics: [80.00  30.00  113.00  113.00]" }
            << "DRNU LUT:  Not Available";
        QTest::newRow("m20 frame-sized block while streaming")
            << "--model m20 --info-size frame --info-identity 7077 --info-wafer 5 --info-chip 9 --fps 30 "
               "stream"
            << "7000_5_9"
            << QStringList { "Machine ID: 7000          ModFreq: 77MHz",
                   "intrinsics: [160.00  120.00  230.00  230.00]" }
            << "DRNU LUT:  Not Available";
    }

    void reply()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, lines);
        QFETCH(QString, lutLabel);
        QFETCH(QString, arguments);
        QStringList simArguments = arguments.split(' ');
        const bool streaming = simArguments.removeAll("stream") > 0;
        Rig rig;
        QVERIFY(rig.start(simArguments));
        if (streaming) {
            rig.find<QPushButton>("pushButtonStart")->setEnabled(true);
            rig.click("pushButtonStart");
            QVERIFY(rig.waitFrames(3));
        }
        rig.sim->clearTranscript();
        const QStringList added = rig.press("pushButtonGetInfo");
        const QString path = QDir::toNativeSeparators(rig.data->path() + "/log/" + folder);
        QCOMPARE(added.value(0), "Working dir created to: " + path);
        QVERIFY(QFileInfo(path).isDir());
        for (const QString &line : lines)
            QVERIFY2(added.contains(line), qPrintable(line + " not in\n" + added.join('\n')));
        QCOMPARE(added.size(), 8);
        QCOMPARE(rig.sim->transcript().filter("23 23 01").size(), 1);
        QVERIFY(rig.find<QPushButton>("pushButtonStart")->isEnabled());
        auto *info = topLevel<DeviceInfo>();
        QVERIFY(info && !info->isCollecting());
        QCOMPARE(child<QLabel>(info, "label_drnu_lut")->text(), lutLabel);
        if (streaming) // the frame reader has its port back
            QVERIFY(rig.waitFrames(3));
    }

    void noOrBadReplyFails_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("recover");
        QTest::newRow("silent") << QStringList { "--info-mode", "silent" } << "info mode normal";
        QTest::newRow("late reply") << QStringList { "--info-delay", "1800" } << "info delay 0";
    }

    void noOrBadReplyFails()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, recover);
        Rig rig;
        QVERIFY(rig.start(
            QStringList { "--model", "m20", "--info-lens", "1", "--info-identity", "1111" } + arguments));
        const DeviceState before = deviceState();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(rig.press("pushButtonGetInfo"), QStringList { "Get device info failed!" });
        QVERIFY(timer.elapsed() >= 1400); // 15 periods of 100 ms
        QVERIFY(rig.sim->waitForEvent(arguments.contains("silent") ? "info silent" : "info reply"));
        pump(200);
        // Nothing that came is decoded, outside a query neither.
        QVERIFY(deviceState().workingSubdir == before.workingSubdir && deviceState().machineID == 0
            && deviceState().cameraCx == before.cameraCx);
        QVERIFY(rig.find<QPushButton>("pushButtonStart")->isEnabled());
        // The next query gets its own reply.
        rig.sim->control(recover);
        rig.sim->control("info identity 2222");
        QCOMPARE(rig.press("pushButtonGetInfo").value(1),
            QStringLiteral("Machine ID: 2000          ModFreq: 222MHz"));
    }

    void lensPacketIsSentAndReadBack()
    {
        Rig rig;
        QVERIFY(rig.start({ "--model", "m10" }));
        LensInfo lens(rig.device.get());
        const double values[] = { 6000, 80.5, 600, 0.29, 113 };
        int i = 0;
        for (const char *name : { "Factor", "Cx", "Cy", "Fx", "Fy" })
            child<QDoubleSpinBox>(&lens, qPrintable(QStringLiteral("doubleSpinBoxCamera") + name))
                ->setValue(values[i++]);
        rig.sim->clearTranscript();
        child<QPushButton>(&lens, "pushButtonSetLensParam")->click();
        QVERIFY(rig.sim->waitForTranscript("28 28 60 EA 72 1F 60 EA 1D 00 24 2C"));
        QCOMPARE(rig.sim->transcript().size(), 1);
        QCOMPARE(deviceState().cameraFx, 0.29); // used at once, whatever the camera does
        // The camera stored them: the next reply carries them.
        QCOMPARE(rig.press("pushButtonGetInfo").value(7),
            QStringLiteral("intrinsics: [80.50  600.00  0.29  113.00]"));
    }

    void unplugOrCloseDuringTheWait()
    {
        Rig rig;
        QVERIFY(rig.start({ "--model", "m20", "--info-mode", "silent" }));
        // A second press during the wait does nothing.
        int innerAdded = -1;
        QTimer::singleShot(
            100, rig.window.get(), [&] { innerAdded = rig.press("pushButtonGetInfo").size(); });
        QTimer::singleShot(300, rig.sim.get(), [&] { rig.sim->control("hangup 200"); });
        QCOMPARE(rig.press("pushButtonGetInfo"),
            (QStringList { "Kavrix M20 disconnected", "Get device info failed!" }));
        QCOMPARE(innerAdded, 0);
        QCOMPARE(rig.sim->transcript(), QStringList { "23 23 01" });
        QVERIFY(rig.waitType(TofDevice::NoDevice, 3000));
        // The removal disabled the start button; the failed query must not enable it again.
        QVERIFY(!rig.find<QPushButton>("pushButtonStart")->isEnabled());

        // Back again: the query works; the window closed during the next wait goes quietly.
        rig.sim->control("info mode normal");
        QVERIFY(rig.sim->plug());
        QVERIFY(rig.waitType(TofDevice::KavrixM20));
        QCOMPARE(
            rig.press("pushButtonGetInfo").value(5), QStringLiteral("Lens param is not found. Use default!"));
        rig.sim->control("info mode silent");
        QTimer::singleShot(300, rig.sim.get(), [&] { rig.window.reset(); });
        QMetaObject::invokeMethod(rig.window.get(), "getDeviceInfo", Qt::DirectConnection);
        QVERIFY(!rig.window && !topLevel<DeviceInfo>());
    }
};

QTEST_MAIN(TestDeviceInfoQuery)
#include "tst_deviceinfo_query.moc"
