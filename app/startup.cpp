#include "startup.h"

#include "accessiblecontrols.h"
#include "accessibleprogressbar.h"
#include "handinput.h"
#include "qtftp.h"
#include "updaterlog.h"

#include <QCoreApplication>
#include <QIcon>
#include <QQmlEngine>

using namespace Qt::StringLiterals;

namespace {
QtMessageHandler handlerBefore = nullptr;

// The updater's lines reach the window's output as they always have, without the category name
// the message pattern would put in front of them: support compares logs against them.
void showUpdaterLinesAsBefore(QtMsgType type, const QMessageLogContext &context,
                              const QString &message)
{
    if (qstrcmp(context.category, updaterLog().categoryName()) == 0) {
        const QMessageLogContext asBefore(context.file, context.line, context.function, "default");
        handlerBefore(type, asBefore, message);
    } else {
        handlerBefore(type, context, message);
    }
}
} // namespace

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

    // A screen reader reads the progress bar's value, and hears which controls are greyed out.
    installAccessibleProgressBars();
    installAccessibleControls();
    // The folder dialog tells the technician's choice of a subfolder from its own.
    installHandInputWatch();

    // Once: installed again, it would pass each line on to itself.
    if (!handlerBefore)
        handlerBefore = qInstallMessageHandler(showUpdaterLinesAsBefore);
}

QUrl windowUrl()
{
    return QUrl(u"qrc:/main.qml"_s, QUrl::TolerantMode);
}
