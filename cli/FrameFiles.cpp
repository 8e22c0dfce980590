#include "cli/FrameFiles.h"

#include "app/PlyFormat.h"
#include "frames/FrameColorizer.h"
#include "frames/ImageColorizer.h"

#include <QDir>
#include <QFileInfo>

bool FrameFiles::parseFormats(const QString &text, int *formats)
{
    *formats = 0;
    const QStringList names = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        const QString n = name.trimmed().toLower();
        if (n == QLatin1String("txt"))
            *formats |= Txt;
        else if (n == QLatin1String("pcd"))
            *formats |= Pcd;
        else if (n == QLatin1String("ply"))
            *formats |= Ply;
        else if (n == QLatin1String("png"))
            *formats |= Png;
        else
            return false;
    }
    return *formats != 0;
}

QString FrameFiles::fileName(int index, const QString &suffix)
{
    return QStringLiteral("frame_%1.%2").arg(index, 6, 10, QLatin1Char('0')).arg(suffix);
}

FrameFiles::FrameFiles(
    const QString &folder, int formats, int width, int height, quint8 frameType, const LensParameters &lens)
    : m_folder(folder)
    , m_formats(formats)
    , m_width(width)
    , m_height(height)
    , m_frameType(frameType)
    , m_lens(lens)
    , m_values(width * height)
{
}

QStringList FrameFiles::suffixes() const
{
    QStringList list;
    if (m_formats & Txt)
        list << QStringLiteral("txt");
    if ((m_formats & Pcd) && pointFiles())
        list << QStringLiteral("pcd");
    if ((m_formats & Ply) && pointFiles())
        list << QStringLiteral("ply");
    if (m_formats & Png)
        list << QStringLiteral("png");
    return list;
}

QString FrameFiles::skippedNote() const
{
    if (pointFiles() || !(m_formats & (Pcd | Ply)))
        return QString();
    return QStringLiteral("note: %1 frames have no point cloud; no .pcd or .ply files are written")
        .arg(m_frameType == 0 ? QStringLiteral("amplitude") : QStringLiteral("grayscale"));
}

bool FrameFiles::prepare(int first, int last, QString *error) const
{
    if (!QDir().mkpath(m_folder) || !QFileInfo(m_folder).isDir()) {
        *error = QStringLiteral("cannot create the folder %1").arg(m_folder);
        return false;
    }
    const QStringList list = suffixes();
    for (int i = first; i <= last; ++i) {
        for (const QString &suffix : list) {
            const QString path = QDir(m_folder).filePath(fileName(i, suffix));
            if (QFileInfo::exists(path)) {
                *error = QStringLiteral("%1 already exists; choose another folder").arg(path);
                return false;
            }
        }
    }
    // Permission bits do not tell everything (read-only mounts): try.
    const QString probe = QDir(m_folder).filePath(QStringLiteral(".quarvel-cli-probe"));
    const LogFiles::Outcome outcome = LogFiles::writeNew(probe, QByteArray());
    QFile::remove(probe);
    if (outcome.state != FrameLogResult::Written) {
        *error = QStringLiteral("cannot write into %1: %2").arg(m_folder, outcome.error);
        return false;
    }
    return true;
}

bool FrameFiles::write(int index, const char *frame, QString *error)
{
    static ImageColorizer colorMap;
    static FrameColorizer colorizer(&colorMap);
    QImage image;
    colorizer.decode(frame, m_width, m_height, m_frameType, m_values.data(), &image);

    const auto check = [&](const LogFiles::Outcome &outcome) {
        if (outcome.state == FrameLogResult::Written) {
            ++m_filesWritten;
            return true;
        }
        *error = outcome.error;
        return false;
    };
    const QDir dir(m_folder);
    const int count = m_width * m_height;
    if ((m_formats & Txt)
        && !check(LogFiles::writeNew(dir.filePath(fileName(index, QStringLiteral("txt"))),
            LogFormat::rawFile(m_values.constData(), count))))
        return false;
    if ((m_formats & Pcd) && pointFiles()
        && !check(LogFiles::writeNew(dir.filePath(fileName(index, QStringLiteral("pcd"))),
            LogFormat::pcdFile(m_values.constData(), m_width, m_height, m_lens))))
        return false;
    if ((m_formats & Ply) && pointFiles()
        && !check(LogFiles::writeNew(dir.filePath(fileName(index, QStringLiteral("ply"))),
            PlyFormat::file(m_values.constData(), m_width, m_height, m_lens, image))))
        return false;
    if ((m_formats & Png)
        && !check(LogFiles::savePng(dir.filePath(fileName(index, QStringLiteral("png"))), image)))
        return false;
    return true;
}
