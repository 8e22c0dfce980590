// export: a recording's frames as txt/pcd/ply/png files, with the lens values
// and frame type stored in the recording.

#include "cli/Cli.h"
#include "cli/FrameFiles.h"
#include "frames/FrameFormat.h"
#include "frames/Recording.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <limits>

using namespace Cli;

namespace {

// "A:B", "A:" or ":B" (inclusive, from 0). False when malformed.
bool parseRange(const QString &text, qint64 *first, qint64 *last)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0 || text.count(QLatin1Char(':')) != 1)
        return false;
    bool ok = true;
    const QString a = text.left(colon).trimmed();
    const QString b = text.mid(colon + 1).trimmed();
    *first = a.isEmpty() ? 0 : a.toLongLong(&ok);
    if (!ok || *first < 0)
        return false;
    *last = b.isEmpty() ? std::numeric_limits<qint64>::max() : b.toLongLong(&ok);
    return ok && *last >= *first;
}

} // namespace

int runExport(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption formatOption(QStringLiteral("format"),
        QStringLiteral("Files per frame, any of txt,pcd,ply,png (default txt,pcd,png)."),
        QStringLiteral("list"), QStringLiteral("txt,pcd,png"));
    const QCommandLineOption outOption(QStringLiteral("out"),
        QStringLiteral("Folder for the files frame_NNNNNN.<format>, numbered as in the recording "
                       "(default: the current folder)."),
        QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption everyOption(QStringLiteral("every"),
        QStringLiteral("Only every Nth frame of the range (default 1)."), QStringLiteral("n"),
        QStringLiteral("1"));
    const QCommandLineOption rangeOption(QStringLiteral("range"),
        QStringLiteral("Frames A to B inclusive, counted from 0 (A: or :B leave one end open)."),
        QStringLiteral("A:B"));
    parser.addOptions({ formatOption, outOption, everyOption, rangeOption });
    const int parsed = parse(parser, QStringLiteral("export"),
        QStringLiteral("Writes the frames of a recording as files, frame by frame, with the same writers "
                       "as capture. Frames the camera marked as not to be shown are skipped."),
        arguments, 1, 1, QStringLiteral("recording The .kvr file to read."));
    if (parsed >= 0)
        return parsed;

    int formats = 0;
    if (!FrameFiles::parseFormats(parser.value(formatOption), &formats)) {
        error(QStringLiteral("--format takes txt, pcd, ply and png, separated by commas, not \"%1\"")
                  .arg(parser.value(formatOption)));
        return Exit::Usage;
    }
    bool ok = false;
    const int every = parser.value(everyOption).toInt(&ok);
    if (!ok || every < 1) {
        error(QStringLiteral("--every must be a whole number of 1 or more, not \"%1\"")
                  .arg(parser.value(everyOption)));
        return Exit::Usage;
    }
    qint64 first = 0;
    qint64 last = std::numeric_limits<qint64>::max();
    if (parser.isSet(rangeOption) && !parseRange(parser.value(rangeOption), &first, &last)) {
        error(QStringLiteral("--range must be A:B with 0 <= A <= B, not \"%1\"")
                  .arg(parser.value(rangeOption)));
        return Exit::Usage;
    }

    const QString path = parser.positionalArguments().first();
    RecordingReader reader;
    if (!reader.open(path)) {
        error(reader.errorString());
        return Exit::FileError;
    }
    const Recording::Header &header = reader.header();
    LensParameters lens;
    lens.factor = header.cameraFactor;
    lens.cx = header.cameraCx;
    lens.cy = header.cameraCy;
    lens.fx = header.cameraFx;
    lens.fy = header.cameraFy;
    const QString folder = parser.value(outOption);
    FrameFiles files(folder, formats, header.width, header.height, header.frameType, lens);
    if (!files.skippedNote().isEmpty())
        note(files.skippedNote());

    // Count first, so that nothing is written when a file is in the way.
    qint64 count = 0;
    Recording::Frame frame;
    while (reader.next(&frame))
        ++count;
    const qint64 lastFrame = qMin(last, count - 1);
    QString reason;
    if (first <= lastFrame) {
        // Only the numbers to be written are checked.
        for (qint64 i = first; i <= lastFrame; i += every) {
            if (!files.prepare(int(i), int(i), &reason)) {
                error(reason);
                return Exit::FileError;
            }
        }
    }
    if (reader.tailBytes() > 0)
        note(QStringLiteral("note: %1 ends in %2 bytes that are no whole frame (a recording cut short); "
                            "the %3 whole frames before are used")
                 .arg(path)
                 .arg(reader.tailBytes())
                 .arg(count));
    reader.rewind();

    const qint64 selected = first <= lastFrame ? (lastFrame - first) / every + 1 : 0;
    Progress progress(QStringLiteral("frames"), selected);
    qint64 index = 0;
    qint64 exported = 0;
    qint64 hidden = 0;
    while (index <= lastFrame && reader.next(&frame)) {
        const qint64 i = index++;
        if (i < first || (i - first) % every != 0)
            continue;
        if (Cli::interrupted())
            break;
        if (FrameFormat::status(frame.data.constData(), header.pixelCount()) == FrameFormat::StatusHidden) {
            ++hidden;
            continue;
        }
        if (!files.write(int(i), frame.data.constData(), &reason)) {
            progress.finish();
            error(QStringLiteral("%1; %2 frame(s) exported").arg(reason).arg(exported));
            return Exit::FileError;
        }
        ++exported;
        progress.update(exported + hidden);
        QCoreApplication::processEvents();
    }
    progress.finish();
    QString summary
        = QStringLiteral("%1 frame(s) exported to %2").arg(exported).arg(QDir::toNativeSeparators(folder));
    if (hidden > 0)
        summary += QStringLiteral(" (%1 marked not to be shown skipped)").arg(hidden);
    if (Cli::interrupted()) {
        note(QStringLiteral("interrupted; ") + summary);
        return Exit::Interrupted;
    }
    note(summary);
    return Exit::Done;
}
