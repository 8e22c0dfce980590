#ifndef CLI_FRAMEFILES_H
#define CLI_FRAMEFILES_H

#include "app/FrameLogger.h"

#include <QString>
#include <QStringList>

// Writes the files of one frame in the formats asked for, with the window's
// frame log writers: txt and pcd bytes as "Log Data" writes them, png the
// frame's picture (no flips, no inspector marks), ply the PCD log's points
// with the picture's colours. Amplitude and grayscale frames get no point files.
class FrameFiles
{
public:
    enum Format { Txt = 1, Pcd = 2, Ply = 4, Png = 8 };

    // "txt,pcd,ply,png" (any subset, any order). False for an unknown name.
    static bool parseFormats(const QString &text, int *formats);
    static QString fileName(int index, const QString &suffix);

    FrameFiles(const QString &folder, int formats, int width, int height, quint8 frameType,
        const LensParameters &lens);

    // The suffixes this frame type gets; a note when point files were asked for but do not apply.
    QStringList suffixes() const;
    QString skippedNote() const;
    // Creates the folder if needed and checks that none of the files of
    // frames first..last exists. The reason in *error otherwise.
    bool prepare(int first, int last, QString *error) const;
    // Writes frame `index` from its block (pixels and trailer). The reason in *error on failure.
    bool write(int index, const char *frame, QString *error);
    int filesWritten() const { return m_filesWritten; }

private:
    bool pointFiles() const { return m_frameType == 1; }

    QString m_folder;
    int m_formats;
    int m_width;
    int m_height;
    quint8 m_frameType;
    LensParameters m_lens;
    QVector<quint16> m_values;
    int m_filesWritten = 0;
};

#endif // CLI_FRAMEFILES_H
