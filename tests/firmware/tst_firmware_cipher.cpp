#include "firmware/FirmwareCipher.h"
#include "firmware/FirmwareFile.h"

#include <QDataStream>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray ProductTag("Morvane Kavrix M10");

QByteArray randomBytes(int length, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(length, '\0');
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

QByteArray scrambled(QByteArray block)
{
    FirmwareCipher::scrambleBlock(block.data());
    return block;
}

QByteArray unscrambled(QByteArray block)
{
    FirmwareCipher::unscrambleBlock(block.data());
    return block;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestFirmwareCipher : public QObject
{
    Q_OBJECT

private slots:
    void exampleBlock()
    {
        QByteArray block(60, '\0');
        block.replace(0, 3, "abc");
        const QByteArray out = scrambled(block);
        QByteArray expected(60, '\0');
        expected.replace(40, 3, QByteArray("\x86\xC4\xC6", 3));
        QCOMPARE(out, expected);
    }

    void inverseUndoesTransform()
    {
        for (quint32 seed = 1; seed <= 50; ++seed) {
            const QByteArray block = randomBytes(60, seed);
            QCOMPARE(unscrambled(scrambled(block)), block);
            QCOMPARE(scrambled(unscrambled(block)), block);
        }
    }

    void fileLayout_data()
    {
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<int>("fileSize");
        QTest::newRow("120 bytes") << 120 << 143;
        QTest::newRow("130 bytes") << 130 << 203;
        QTest::newRow("empty") << 0 << 23;
        QTest::newRow("largest") << 49152 << 49200 + 23;
    }

    void fileLayout()
    {
        QFETCH(int, imageSize);
        QFETCH(int, fileSize);
        const QByteArray image = randomBytes(imageSize, quint32(imageSize) + 7);
        const QByteArray tof = FirmwareCipher::encrypt(image, ProductTag);
        QCOMPARE(tof.size(), fileSize);
        QCOMPARE(FirmwareCipher::encryptedSize(imageSize, int(ProductTag.size())), qint64(fileSize));

        // the tag is what QDataStream writes for a const char *
        QByteArray tag;
        QDataStream stream(&tag, QIODevice::WriteOnly);
        stream << ProductTag.constData();
        QCOMPARE(tag.size(), 23);
        QVERIFY(tof.endsWith(tag));

        const int fullBlocks = imageSize / 60;
        for (int i = 0; i < fullBlocks; ++i)
            QCOMPARE(unscrambled(tof.mid(i * 60, 60)), image.mid(i * 60, 60));
    }

    void tailBlockIsBuiltOnThePreviousOutput()
    {
        const QByteArray image = randomBytes(130, 3);
        const QByteArray tof = FirmwareCipher::encrypt(image, ProductTag);
        const QByteArray tail = unscrambled(tof.mid(120, 60));
        QCOMPARE(tail.left(10), image.mid(120, 10));
        // the 50 filler bytes are bytes 10..59 of the second block's output
        QCOMPARE(tail.mid(10), tof.mid(60 + 10, 50));
    }

    void shortImageGetsZeroFiller()
    {
        const QByteArray image("fw", 2);
        const QByteArray tail = unscrambled(FirmwareCipher::encrypt(image, ProductTag).left(60));
        QCOMPARE(tail, image + QByteArray(58, '\0'));
    }

    void outputNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("bin") << "/data/fw.bin"
                             << "/data/fw.tof";
        QTest::newRow("upper case") << "/data/fw.BIN"
                                    << "/data/fw.BIN.tof";
        QTest::newRow("tof") << "/data/fw.tof"
                             << "/data/fw.tof.tof";
        QTest::newRow("folder named .bin") << "/data/x.bin/fw.bin"
                                           << "/data/x.bin/fw.tof";
    }

    void outputNames()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QCOMPARE(FirmwareFile::encryptedPath(input), output);
    }

    void writerReplacesOutputAndNeverTheInput()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray image = randomBytes(130, 11);
        const QByteArray expected = FirmwareCipher::encrypt(image, ProductTag);

        // an existing, longer .tof is replaced, not extended
        const QString bin = dir.filePath("fw.bin");
        QVERIFY(writeFile(bin, image));
        QVERIFY(writeFile(dir.filePath("fw.tof"), QByteArray(1000, 'z')));
        const FirmwareFile::WriteResult result = FirmwareFile::writeEncrypted(bin, image, ProductTag);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.outputPath, dir.filePath("fw.tof"));
        QCOMPARE(readFile(result.outputPath), expected);
        QCOMPARE(readFile(bin), image);

        // names without ".bin" must not name the input itself
        for (const QString name : { QStringLiteral("fw.BIN"), QStringLiteral("fw.tof") }) {
            const QString input = dir.filePath(name);
            QVERIFY(writeFile(input, image));
            const FirmwareFile::WriteResult result = FirmwareFile::writeEncrypted(input, image, ProductTag);
            QVERIFY2(result.ok, qPrintable(result.error));
            QCOMPARE(result.outputPath, input + ".tof");
            QCOMPARE(readFile(input), image);
        }

        // an output that is a link to the input is refused
        const QString linked = dir.filePath("other.bin");
        QVERIFY(writeFile(linked, image));
        QVERIFY(QFile::link(linked, dir.filePath("other.tof")));
        const FirmwareFile::WriteResult refused = FirmwareFile::writeEncrypted(linked, image, ProductTag);
        QVERIFY(!refused.ok);
        QCOMPARE(readFile(linked), image);
    }

    void writerReportsUnwritableFolder()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath("gone/fw.bin");
        const FirmwareFile::WriteResult result
            = FirmwareFile::writeEncrypted(missing, QByteArray(10, 'a'), ProductTag);
        QVERIFY(!result.ok);
        QVERIFY(!result.error.isEmpty());
        QVERIFY(!FirmwareFile::writeEncrypted(QString(), QByteArray(10, 'a'), ProductTag).ok);
    }

    void loader()
    {
        QTemporaryDir dir;
        QCOMPARE(FirmwareFile::load(QString()).status, FirmwareFile::LoadStatus::EmptyPath);
        QCOMPARE(
            FirmwareFile::load(dir.filePath("missing.bin")).status, FirmwareFile::LoadStatus::OpenFailed);

        const QByteArray legal = randomBytes(49152, 5);
        QVERIFY(writeFile(dir.filePath("legal.bin"), legal));
        FirmwareFile::LoadResult result = FirmwareFile::load(dir.filePath("legal.bin"));
        QCOMPARE(result.status, FirmwareFile::LoadStatus::Loaded);
        QCOMPARE(result.data, legal);

        QVERIFY(writeFile(dir.filePath("big.bin"), legal + 'x'));
        result = FirmwareFile::load(dir.filePath("big.bin"));
        QCOMPARE(result.status, FirmwareFile::LoadStatus::TooLarge);
        QCOMPARE(result.data.size(), 49153);

        QVERIFY(writeFile(dir.filePath("empty.bin"), QByteArray()));
        QCOMPARE(FirmwareFile::load(dir.filePath("empty.bin")).status, FirmwareFile::LoadStatus::Loaded);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareCipher)
#include "tst_firmware_cipher.moc"
