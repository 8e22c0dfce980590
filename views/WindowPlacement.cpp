#include "views/WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <limits>

namespace {

const QString FilterName = QStringLiteral("WindowPlacementFilter");

qint64 overlapArea(const QRect &window, const QVector<QRect> &others)
{
    qint64 area = 0;
    for (const QRect &other : others) {
        const QRect common = window.intersected(other);
        if (!common.isEmpty())
            area += qint64(common.width()) * common.height();
    }
    return area;
}

qint64 distanceSquared(const QPoint &a, const QPoint &b)
{
    const qint64 dx = a.x() - b.x();
    const qint64 dy = a.y() - b.y();
    return dx * dx + dy * dy;
}

bool onTopOfOneOf(const QRect &window, const QVector<QRect> &sameKind)
{
    for (const QRect &other : sameKind) {
        if (other.topLeft() == window.topLeft())
            return true;
    }
    return false;
}

// Places its window on the first show event, when the size is final and the
// native window not yet mapped.
class PlacementFilter : public QObject
{
public:
    PlacementFilter(QWidget *window, std::optional<QPoint> preferred, const QVector<QWidget *> &keepClear,
        int earlierInstances)
        : QObject(window)
        , m_window(window)
        , m_preferred(preferred)
        , m_earlierInstances(earlierInstances)
    {
        for (QWidget *w : keepClear)
            m_keepClear << QPointer<QWidget>(w);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Show && !m_done) {
            m_done = true;
            apply();
        }
        return false;
    }

private:
    // Decoration sizes: the window's own once it is mapped, otherwise those of
    // any window the window manager has decorated already.
    QMargins frameMargins() const
    {
        const auto marginsOf = [](const QWidget *w) {
            const QRect frame = w->frameGeometry();
            const QRect inner = w->geometry();
            return QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                frame.right() - inner.right(), frame.bottom() - inner.bottom());
        };
        QMargins own = marginsOf(m_window);
        if (!own.isNull())
            return own;
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (const QWidget *w : windows) {
            if (w != m_window && w->isVisible()) {
                const QMargins other = marginsOf(w);
                if (!other.isNull())
                    return other;
            }
        }
        return {};
    }

    void apply()
    {
        const QMargins margins = frameMargins();
        const QSize frameSize = m_window->size().grownBy(margins);

        QScreen *screen = m_preferred ? QGuiApplication::screenAt(*m_preferred) : nullptr;
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QRect available = screen->availableGeometry();
        const QPoint topLeft = m_preferred
            ? *m_preferred
            : available.center() - QPoint(frameSize.width() / 2, frameSize.height() / 2);
        const QRect preferred(topLeft, frameSize);

        QVector<QRect> keepClear;
        for (const QPointer<QWidget> &w : qAsConst(m_keepClear)) {
            if (w && w->isVisible())
                keepClear << w->frameGeometry();
        }
        // A window without a place of its own, or one that has to move anyway,
        // leaves the main window's controls free where there is room.
        if (!m_preferred || !available.contains(preferred)) {
            const QWidgetList windows = QApplication::topLevelWidgets();
            for (const QWidget *w : windows) {
                if (w != m_window && w->isVisible() && qobject_cast<const QMainWindow *>(w))
                    keepClear << w->frameGeometry();
            }
        }
        // Windows of this kind in other processes opened where this one would,
        // one after the other.
        QVector<QRect> sameKind;
        for (int i = 0; i < m_earlierInstances; ++i)
            sameKind << WindowPlacement::place(preferred, available, sameKind, keepClear);
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (const QWidget *w : windows) {
            if (w != m_window && w->isVisible() && w->metaObject() == m_window->metaObject())
                sameKind << w->frameGeometry();
        }

        const QRect placed = WindowPlacement::place(preferred, available, sameKind, keepClear);
        if (placed.topLeft() != m_window->frameGeometry().topLeft())
            m_window->move(placed.topLeft());
    }

    QWidget *m_window;
    std::optional<QPoint> m_preferred;
    QVector<QPointer<QWidget>> m_keepClear;
    int m_earlierInstances;
    bool m_done = false;
};

} // namespace

QRect WindowPlacement::fitInto(const QRect &window, const QRect &available)
{
    QRect fitted = window;
    if (fitted.right() > available.right())
        fitted.moveRight(available.right());
    if (fitted.bottom() > available.bottom())
        fitted.moveBottom(available.bottom());
    // Too large for the area: the title bar and the top left stay reachable.
    if (fitted.left() < available.left())
        fitted.moveLeft(available.left());
    if (fitted.top() < available.top())
        fitted.moveTop(available.top());
    return fitted;
}

QRect WindowPlacement::place(const QRect &preferred, const QRect &available, const QVector<QRect> &sameKind,
    const QVector<QRect> &keepClear)
{
    const QRect fitted = fitInto(preferred, available);

    // Beside each window to keep clear, keeping the other coordinate; the
    // candidate covering the least of them wins, the nearest among equals.
    QVector<QRect> candidates { fitted };
    for (const QRect &other : keepClear) {
        QRect r = fitted;
        r.moveLeft(other.right() + 1);
        candidates << fitInto(r, available);
        r = fitted;
        r.moveRight(other.left() - 1);
        candidates << fitInto(r, available);
        r = fitted;
        r.moveBottom(other.top() - 1);
        candidates << fitInto(r, available);
        r = fitted;
        r.moveTop(other.bottom() + 1);
        candidates << fitInto(r, available);
    }
    QRect best = fitted;
    qint64 bestOverlap = std::numeric_limits<qint64>::max();
    qint64 bestDistance = 0;
    for (const QRect &candidate : qAsConst(candidates)) {
        const qint64 overlap = overlapArea(candidate, keepClear);
        const qint64 distance = distanceSquared(candidate.topLeft(), preferred.topLeft());
        if (overlap < bestOverlap || (overlap == bestOverlap && distance < bestDistance)) {
            best = candidate;
            bestOverlap = overlap;
            bestDistance = distance;
        }
    }

    if (!onTopOfOneOf(best, sameKind))
        return best;
    // Down and to the right first; where the area ends, the other diagonals.
    static const QPoint directions[] = { { 1, 1 }, { -1, -1 }, { 1, -1 }, { -1, 1 } };
    for (const QPoint &direction : directions) {
        QRect previous = best;
        for (int k = 1; k <= 64; ++k) {
            const QRect candidate = fitInto(best.translated(direction * k * CascadeStep), available);
            if (candidate == previous)
                break; // against the edge of the area
            if (!onTopOfOneOf(candidate, sameKind) && overlapArea(candidate, keepClear) <= bestOverlap)
                return candidate;
            previous = candidate;
        }
    }
    return best;
}

void WindowPlacement::placeWhenShown(QWidget *window, std::optional<QPoint> preferred,
    const QVector<QWidget *> &keepClear, int earlierInstances)
{
    if (!window)
        return;
    // A later call replaces an earlier one.
    const QList<QObject *> earlier = window->findChildren<QObject *>(FilterName, Qt::FindDirectChildrenOnly);
    qDeleteAll(earlier);
    auto *filter = new PlacementFilter(window, preferred, keepClear, earlierInstances);
    filter->setObjectName(FilterName);
}
