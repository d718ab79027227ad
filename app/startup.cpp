#include "startup.h"

#include "qtftp.h"

#include <QCoreApplication>
#include <QIcon>
#include <QQmlEngine>

using namespace Qt::StringLiterals;

void setUpApplication()
{
    // The settings store is found by these names: set them before the window reads it.
    QCoreApplication::setOrganizationName(u"Brindlemoor"_s);
    QCoreApplication::setOrganizationDomain(u"brindlemoor.com"_s);
    QCoreApplication::setApplicationName(u"TsTxUpdater"_s);

    // The window creates its one updater from this module; start-up makes none itself.
    qmlRegisterType<QTftp>("com.brindlemoor.TsTxDownloader", 1, 0, "QTftp");

    // The window's tool buttons take their icons from this theme when they are built.
    QIcon::setThemeName(u"Win10"_s);
}

QUrl windowUrl()
{
    return QUrl(u"qrc:/main.qml"_s, QUrl::TolerantMode);
}
