#ifndef WINDOWPLACEMENT_H
#define WINDOWPLACEMENT_H

#include <QPoint>
#include <QRect>
#include <QVector>

#include <optional>

class QWidget;

// Where a top-level window opens on the desktop.
//
// A window opens at the position its own code gives it when it lies wholly
// inside the screen's available area. Otherwise it is moved, never resized,
// just far enough to lie inside (a window larger than the area keeps its top
// left corner in the area). It keeps clear of the windows it must not cover,
// where the area has room, and a window that would open exactly on top of one
// of its own kind is offset diagonally.
//
// All rectangles are frame rectangles (window decorations included), in
// desktop coordinates.
class WindowPlacement
{
public:
    // Offset between windows of one kind.
    static constexpr int CascadeStep = 32;

    // `window` moved the least distance that brings it inside `available`.
    static QRect fitInto(const QRect &window, const QRect &available);

    // The rectangle to open `preferred` at. `sameKind` are the windows of the
    // same kind already open, `keepClear` the windows it should not cover.
    static QRect place(const QRect &preferred, const QRect &available, const QVector<QRect> &sameKind = {},
        const QVector<QRect> &keepClear = {});

    // Applies place() to `window` when it is first shown (its size is final
    // then): `preferred` is its frame's top left corner; without one the
    // window opens in the middle of the primary screen. The windows in
    // `keepClear` are looked up at that moment; `earlierInstances` counts
    // windows of the same kind open in other processes, which this process
    // cannot see.
    static void placeWhenShown(QWidget *window, std::optional<QPoint> preferred,
        const QVector<QWidget *> &keepClear = {}, int earlierInstances = 0);
};

#endif // WINDOWPLACEMENT_H
