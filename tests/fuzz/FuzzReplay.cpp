// Runs a fuzz target without libFuzzer: every seed in $FUZZ_CORPUS, then
// inputs made from them by byte changes, insertions, deletions, repeats and
// splices, always the same series: $FUZZ_RUNS of them (default 20000), or
// fewer when a slow target has used up its 3 seconds after the first 500.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main()
{
    const QDir dir(qEnvironmentVariable("FUZZ_CORPUS"));
    QList<QByteArray> seeds;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            seeds << file.readAll();
    }
    if (seeds.isEmpty())
        seeds << QByteArray(64, '\0');
    const int runs
        = qEnvironmentVariableIsSet("FUZZ_RUNS") ? qEnvironmentVariableIntValue("FUZZ_RUNS") : 20000;
    const auto run = [](const QByteArray &bytes) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    };
    for (const QByteArray &seed : qAsConst(seeds))
        run(seed);
    QRandomGenerator random(1);
    const auto at = [&](const QByteArray &bytes) { return int(random.bounded(quint32(bytes.size() + 1))); };
    QElapsedTimer clock;
    clock.start();
    int i = 0;
    for (; i < runs && (i < 500 || clock.elapsed() < 3000); ++i) {
        QByteArray bytes = seeds.at(int(random.bounded(quint32(seeds.size()))));
        for (int edits = 1 + int(random.bounded(8u)); edits > 0; --edits) {
            const QByteArray &other = seeds.at(int(random.bounded(quint32(seeds.size()))));
            switch (random.bounded(5u)) {
            case 0:
                if (!bytes.isEmpty())
                    bytes[at(bytes) % bytes.size()] = char(random.bounded(256u));
                break;
            case 1:
                bytes.insert(at(bytes), char(random.bounded(256u)));
                break;
            case 2:
                bytes.remove(at(bytes), 1 + int(random.bounded(8u)));
                break;
            case 3:
                bytes.insert(at(bytes), bytes.mid(at(bytes), 1 + int(random.bounded(64u))));
                break;
            default:
                bytes.insert(at(bytes), other.mid(at(other)));
                break;
            }
        }
        run(bytes);
    }
    std::printf("%d inputs\n", i + int(seeds.size()));
    return 0;
}
