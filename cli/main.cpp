// tstx-update: the window's update run for one or many transmitters, from the command line.
#include "console.h"
#include "display.h"
#include "fleetrun.h"
#include "options.h"
#include "qtftp.h"
#include "report.h"
#include "updaterlog.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {
constexpr int usageErrorStatus = 2;

int usageError(const QString &message)
{
    writeTo(stderr, u"tstx-update: "_s + message + u'\n');
    return usageErrorStatus;
}

// The files a run would send, in sending order with their sizes, then "done".
int listFolder(const QString &folder)
{
    QTftp tftp;
    tftp.buildFileList(QUrl::fromLocalFile(folder));
    const QList<FirmwareFile> files = firmwareFiles(tftp.firmwareList());
    if (files.isEmpty())
        writeTo(stderr,
                u"tstx-update: no firmware files in %1, so a run would refuse to start\n"_s.arg(
                    printable(folder)));
    QString listing;
    for (const FirmwareFile &file : files)
        listing += u"%1  %2\n"_s.arg(file.size, 10).arg(printable(file.name));
    writeTo(stdout, listing + u"%1  done\n"_s.arg(0, 10));
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"tstx-update"_s);
    QCoreApplication::setApplicationVersion(QTftp::updaterVersion());

    Options options;
    if (const QString error = parseCommandLine(QCoreApplication::arguments(), options);
        !error.isEmpty())
        return usageError(error);
    // The updater's debugging lines (each listing, each upload) only when asked for.
    if (!options.verbose)
        QLoggingCategory::setFilterRules(QLatin1StringView(updaterLog().categoryName())
                                         + ".debug=false"_L1);
    if (options.listOnly)
        return listFolder(options.folder);

    FleetRun run(options.devices, options.localAddress, options.port);
    if (const QString error = run.prepare(options.folder); !error.isEmpty())
        return usageError(error);
    // Each upload blocks a pool thread for its whole length.
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(qMax(pool->maxThreadCount(), options.parallel));

    ProgressDisplay display(run);
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &run, [&] {
        // Cancelled first: once the message shows, no running upload sends another block.
        run.interrupt();
        display.message(u"tstx-update: interrupted: no further transmitter starts, the running "
                        "ones stop after their current block, within 10 s (Ctrl+C again quits "
                        "at once)"_s);
    });
    QObject::connect(&run, &FleetRun::finished, &app, [&] {
        display.finish();
        printSummary(run);
        int status = run.allUpdated() ? 0 : 1;
        int updated = 0;
        for (int device = 0; device < run.deviceCount(); ++device)
            updated += run.outcome(device).result == DeviceOutcome::Updated;
        writeTo(stderr,
                u"tstx-update: %1 of %2 transmitters updated%3\n"_s.arg(
                    QString::number(updated), QString::number(run.deviceCount()),
                    run.interrupted() ? u" (interrupted)"_s : QString()));
        if (!options.reportFile.isEmpty()) {
            if (const QString error = writeReport(options.reportFile, run, options.folder);
                !error.isEmpty()) {
                writeTo(stderr, u"tstx-update: "_s + error + u'\n');
                status = 1;
            }
        }
        QCoreApplication::exit(status);
    });
    // From the event loop: a run can end before start() returns, and exit() needs the loop.
    QTimer::singleShot(0, &run, [&] { run.start(options.parallel); });
    return QCoreApplication::exec();
}
