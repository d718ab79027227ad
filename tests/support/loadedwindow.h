#pragma once

// The program's window loaded from its own resource "qrc:/main.qml", with the application set up
// as start-up sets it up, and the user's steps through it.

#include "qtftp.h"

#include <QCoreApplication>
#include <QIcon>
#include <QNetworkInterface>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTest>

// As start-up does: the program's identity, the updater type for QML and the icon theme.
inline void setUpAsTheProgramDoes()
{
    using namespace Qt::StringLiterals;
    QCoreApplication::setOrganizationName(u"Brindlemoor"_s);
    QCoreApplication::setOrganizationDomain(u"brindlemoor.com"_s);
    QCoreApplication::setApplicationName(u"TsTxUpdater"_s);
    qmlRegisterType<QTftp>("com.brindlemoor.TsTxDownloader", 1, 0, "QTftp");
    QIcon::setThemeName(u"Win10"_s);
}

// The interface list's entry for the loopback interface.
inline QString loopbackEntry()
{
    using namespace Qt::StringLiterals;
    return QNetworkInterface::interfaceFromName(u"lo"_s).humanReadableName() + u" -- 127.0.0.1"_s;
}

class LoadedWindow
{
public:
    LoadedWindow() { engine.load(QUrl(QStringLiteral("qrc:/main.qml"))); }

    [[nodiscard]] bool isLoaded() const { return !engine.rootObjects().isEmpty(); }
    [[nodiscard]] QQuickWindow *window() const
    {
        return qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    }
    [[nodiscard]] QObject *item(const QString &name) const
    {
        QObject *root = engine.rootObjects().value(0);
        return root ? root->findChild<QObject *>(name) : nullptr;
    }
    [[nodiscard]] QVariant value(const QString &name, const char *property) const
    {
        QObject *object = item(name);
        return object ? object->property(property) : QVariant();
    }
    [[nodiscard]] QTftp *updater() const
    {
        return qobject_cast<QTftp *>(item(QStringLiteral("qtftp")));
    }

    void trigger(const QString &action) const
    {
        QMetaObject::invokeMethod(item(action), "trigger");
    }
    void pressStart() const
    {
        QMetaObject::invokeMethod(item(QStringLiteral("startButton")), "clicked");
    }
    void chooseInterfaceEntry(int index) const
    {
        item(QStringLiteral("interfaceList"))->setProperty("currentIndex", index);
    }
    void typeAddress(const QString &text) const
    {
        item(QStringLiteral("addressField"))->setProperty("text", text);
    }
    // The user opens the folder dialog, picks the folder and accepts it.
    [[nodiscard]] bool acceptFolder(const QString &path) const
    {
        trigger(QStringLiteral("openAction"));
        QObject *dialog = item(QStringLiteral("openDialog")); // made anew by every opening
        if (!dialog)
            return false;
        if (!QTest::qWaitFor([dialog] { return dialog->property("visible").toBool(); }, 5000))
            return false;
        dialog->setProperty("selectedFolder", QUrl::fromLocalFile(path));
        QMetaObject::invokeMethod(dialog, "accept");
        return !dialog->property("visible").toBool();
    }
    // The loopback interface, the device at 127.0.0.1:port and the folder, ready to start.
    [[nodiscard]] bool prepareRun(quint16 port, const QString &folder) const
    {
        chooseInterfaceEntry(int(updater()->ifsList().indexOf(loopbackEntry())));
        typeAddress(QStringLiteral("127.0.0.1"));
        updater()->setRemotePort(port);
        return acceptFolder(folder);
    }
    // True when the toolbar, the form and the three actions are all enabled as wanted.
    [[nodiscard]] bool controlsEnabled(bool enabled, QString *why) const
    {
        for (const char *name : {"toolBar", "gridLayout", "openAction", "aboutAction", "quitAction",
                                 "startButton", "openButton", "quitButton"}) {
            if (value(QString::fromLatin1(name), "enabled").toBool() != enabled) {
                *why = QStringLiteral("%1 is %2")
                           .arg(QString::fromLatin1(name),
                                enabled ? QStringLiteral("disabled") : QStringLiteral("enabled"));
                return false;
            }
        }
        return true;
    }

    QQmlApplicationEngine engine;
};
