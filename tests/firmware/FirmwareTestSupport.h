#ifndef FIRMWARETESTSUPPORT_H
#define FIRMWARETESTSUPPORT_H

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QStringList>
#include <QTest>

class UpdateFirmware;

namespace FirmwareTest {

inline QByteArray image(int length, int seed = 1)
{
    QByteArray bytes(length, '\0');
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (char &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Texts of the message boxes on screen; closes them.
inline QStringList takeMessages()
{
    QStringList texts;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible()) {
            // Every box of the firmware window carries the title "Information".
            texts << (box->windowTitle() == QLatin1String("Information") ? QString()
                                                                         : QStringLiteral("[title] "))
                    + box->text();
            box->close();
        }
    }
    return texts;
}

// Waits for a message box and returns the texts of all boxes then on screen.
inline QStringList waitForMessages(int timeoutMs = 5000)
{
    (void)QTest::qWaitFor(
        [] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible())
                    return true;
            }
            return false;
        },
        timeoutMs);
    return takeMessages();
}

template <typename T> QList<T *> topLevel()
{
    QList<T *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *w = qobject_cast<T *>(widget))
            found << w;
    }
    return found;
}

} // namespace FirmwareTest

#endif // FIRMWARETESTSUPPORT_H
