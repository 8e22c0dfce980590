#include "tests/support/WindowTestSupport.h"

#include "app/MainWindow.h"
#include "device/TofDevice.h"
#include "tests/support/SimProcess.h"

#include <algorithm>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontDatabase>
#include <QLabel>
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

QStringList cutTexts(const QWidget *window)
{
    static const QStringList families = QFontDatabase().families();
    QStringList cut;
    for (const QWidget *w : window->findChildren<QWidget *>()) {
        const auto *label = qobject_cast<const QLabel *>(w);
        const auto *button = qobject_cast<const QAbstractButton *>(w);
        const QString text = label ? label->text() : button ? button->text() : QString();
        if (text.isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QString where
            = QStringLiteral("%1/%2: ").arg(window->metaObject()->className(), w->objectName());
        // Qt draws a character with any installed font that has it.
        for (const uint c : text.toUcs4()) {
            if (std::none_of(families.cbegin(), families.cend(),
                    [c](const QString &f) { return QFontMetrics(QFont(f)).inFontUcs4(c); }))
                cut << where + QStringLiteral("no font has U+%1").arg(c, 4, 16, QLatin1Char('0'));
        }
        // The room the style leaves for the text.
        QStyleOptionButton option;
        option.initFrom(w);
        option.text = text;
        QRect room = label ? label->contentsRect().marginsRemoved(QMargins() + label->margin())
            : qobject_cast<const QCheckBox *>(w)
            ? w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w)
            : w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w);
        const QFontMetrics metrics(w->font());
        const QSize needed = label && label->wordWrap()
            ? metrics.boundingRect(QRect(QPoint(), room.size()), Qt::TextWordWrap, text).size()
            : QSize(metrics.horizontalAdvance(text), metrics.height());
        if (needed.width() > room.width() || needed.height() > room.height())
            cut << where
                    + QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
                          .arg(text)
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
