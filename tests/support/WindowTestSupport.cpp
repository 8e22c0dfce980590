#include "tests/support/WindowTestSupport.h"

#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "tests/support/SimProcess.h"

#include <algorithm>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace WindowTest {

QStringList infoLines(const QWidget *mainWindow)
{
    return child<QTextEdit>(mainWindow, "textEditInfo")->toPlainText().split(QLatin1Char('\n'));
}

QString lastInfoLine(const QWidget *mainWindow)
{
    const QStringList lines = infoLines(mainWindow);
    return lines.isEmpty() ? QString() : lines.last();
}

bool waitForDeviceType(const TofDevice *device, quint8 type, int timeoutMs)
{
    return QTest::qWaitFor([&] { return device->deviceType() == type; }, timeoutMs);
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

namespace {

// Whether some installed font has a glyph for every character of `text`
// (Qt falls back to such a font by itself).
QString undrawable(const QString &text, const QFont &font)
{
    static QStringList families = QFontDatabase().families();
    QString missing;
    for (const uint c : text.toUcs4()) {
        if (c < 0x80 || QFontMetrics(font).inFontUcs4(c))
            continue;
        const bool covered = std::any_of(families.cbegin(), families.cend(),
            [c](const QString &family) { return QFontMetrics(QFont(family)).inFontUcs4(c); });
        if (!covered)
            missing += QStringLiteral(" U+%1").arg(c, 4, 16, QLatin1Char('0'));
    }
    return missing;
}

// The room the widget's style gives its text, and whether it is wrapped.
QRect textRoom(const QWidget *w, bool *wrapped)
{
    *wrapped = false;
    if (const auto *label = qobject_cast<const QLabel *>(w)) {
        *wrapped = label->wordWrap();
        const int m = label->margin();
        return label->contentsRect().adjusted(m, m, -m, -m);
    }
    if (const auto *button = qobject_cast<const QPushButton *>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        if (button->autoDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    }
    if (const auto *box = qobject_cast<const QCheckBox *>(w)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    }
    if (const auto *group = qobject_cast<const QGroupBox *>(w)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel;
        return group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
    }
    return {};
}

QString textOf(const QWidget *w)
{
    if (const auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (const auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (const auto *group = qobject_cast<const QGroupBox *>(w))
        return group->title();
    return {};
}

} // namespace

QStringList cutTexts(const QWidget *window)
{
    QStringList cut;
    QList<const QWidget *> widgets { window };
    for (const QWidget *w : window->findChildren<QWidget *>())
        widgets << w;
    for (const QWidget *w : qAsConst(widgets)) {
        const QString text = textOf(w);
        if (text.isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QString where
            = QStringLiteral("%1/%2 \"%3\"")
                  .arg(QString::fromLatin1(window->metaObject()->className()), w->objectName(), text);
        const QString missing = undrawable(text, w->font());
        if (!missing.isEmpty())
            cut << where + QStringLiteral(": no font draws") + missing;

        bool wrapped = false;
        const QRect room = textRoom(w, &wrapped);
        const QFontMetrics metrics(w->font());
        const QSize needed = wrapped
            ? metrics.boundingRect(QRect(QPoint(), room.size()), Qt::TextWordWrap, text).size()
            : QSize(metrics.horizontalAdvance(text), metrics.height());
        if (needed.width() > room.width() || needed.height() > room.height())
            cut << where
                    + QStringLiteral(": needs %1x%2, has %3x%4")
                          .arg(needed.width())
                          .arg(needed.height())
                          .arg(room.width())
                          .arg(room.height());
    }
    return cut;
}

bool startCamera(
    const QStringList &arguments, std::unique_ptr<SimProcess> *sim, std::unique_ptr<TofDevice> *device)
{
    *sim = std::make_unique<SimProcess>();
    if (!(*sim)->start(arguments))
        return false;
    *device = std::make_unique<TofDevice>();
    const quint8 type = (*device)->deviceType();
    return type == TofDevice::KavrixM10 || type == TofDevice::KavrixM20;
}

bool startCameraAndWindow(const QStringList &arguments, std::unique_ptr<SimProcess> *sim,
    std::unique_ptr<TofDevice> *device, std::unique_ptr<MainWindow> *window)
{
    const bool opened = startCamera(arguments, sim, device);
    if (*device)
        *window = std::make_unique<MainWindow>(device->get());
    return opened;
}

} // namespace WindowTest
