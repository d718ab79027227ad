#include "qtftp.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QUrl>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);

    // The settings store is found by these names: set them before the window reads it.
    QCoreApplication::setOrganizationName(u"Brindlemoor"_s);
    QCoreApplication::setOrganizationDomain(u"brindlemoor.com"_s);
    QCoreApplication::setApplicationName(u"TsTxUpdater"_s);

    // The window creates its one updater from this module; start-up makes none itself.
    qmlRegisterType<QTftp>("com.brindlemoor.TsTxDownloader", 1, 0, "QTftp");

    QQmlApplicationEngine engine;
    // The window's tool buttons take their icons from this theme when they are built.
    QIcon::setThemeName(u"Win10"_s);
    engine.load(QUrl(u"qrc:/main.qml"_s, QUrl::TolerantMode));
    // No window: the engine has already printed why the document did not load.
    if (engine.rootObjects().isEmpty())
        return -1;

    return QGuiApplication::exec();
}
