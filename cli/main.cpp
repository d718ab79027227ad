// tstx-update: the window's update run for one or many transmitters, from the command line.
#include "console.h"
#include "display.h"
#include "fleetrun.h"
#include "options.h"
#include "output.h"
#include "qtftp.h"
#include "report.h"
#include "updaterlog.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {
constexpr int usageErrorStatus = 2;
constexpr int quitStatus = 130;

int usageError(const QString &message)
{
    writeTo(stderr, u"tstx-update: "_s + message + u'\n');
    return usageErrorStatus;
}

// "N .bin files match no firmware name and will not be sent: NAMES", or nothing.
QString unmatchedText(const QStringList &names)
{
    constexpr qsizetype named = 10;
    if (names.isEmpty())
        return {};
    QString text = counted(names.size(), u".bin file"_s)
        + (names.size() == 1 ? u" matches"_s : u" match"_s)
        + u" no firmware name and will not be sent: "_s;
    text += printable(names.mid(0, named).join(u", "_s));
    if (names.size() > named)
        text += u" and %1 more"_s.arg(names.size() - named);
    return text;
}

// The files a run would send, in sending order with their sizes, then "done". Exits with 1 when
// a run would refuse to start, so that a script can check a folder first.
int listFolder(const QString &folder)
{
    QTftp tftp;
    tftp.buildFileList(QUrl::fromLocalFile(folder));
    const QList<FirmwareFile> files = firmwareFiles(tftp.firmwareList());
    QStringList notes;
    if (files.isEmpty())
        notes.append(
            u"no firmware files in %1, so a run would refuse to start"_s.arg(printable(folder)));
    const QString refusal = tftp.runRefusal();
    if (!refusal.isEmpty())
        notes.append(u"a run would refuse to start, sending nothing: "_s + printable(refusal));
    if (const QString unmatched = unmatchedText(tftp.unmatchedImages()); !unmatched.isEmpty())
        notes.append(unmatched);
    for (const QString &note : std::as_const(notes))
        writeTo(stderr, u"tstx-update: "_s + note + u'\n');
    QString listing;
    for (const FirmwareFile &file : files)
        listing += u"%1  %2\n"_s.arg(file.size, 10).arg(printable(file.name));
    writeTo(stdout, listing + u"%1  done\n"_s.arg(0, 10));
    return files.isEmpty() || !refusal.isEmpty() ? 1 : 0;
}

// The table, the count, and the report when one was asked for; the exit status of the run.
int report(const FleetRun &run, const Options &options, ProgressDisplay &display)
{
    printSummary(run);
    int status = run.allUpdated() ? 0 : 1;
    int updated = 0;
    for (int device = 0; device < run.deviceCount(); ++device)
        updated += run.outcome(device).result == DeviceOutcome::Updated;
    display.message(u"tstx-update: %1 of %2 updated%3"_s.arg(
        QString::number(updated), counted(run.deviceCount(), u"transmitter"_s),
        run.interrupted() ? u" (interrupted)"_s : QString()));
    if (!options.reportFile.isEmpty()) {
        if (const QString error = writeReport(options.reportFile, run, options.folder);
            !error.isEmpty()) {
            display.message(u"tstx-update: "_s + error);
            status = 1;
        }
    }
    return status;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"tstx-update"_s);
    QCoreApplication::setApplicationVersion(QTftp::updaterVersion());
    Console::keepRunningWithoutOutput();

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
    display.message(u"tstx-update: sending %1 and done to %2, %3 at a time"_s.arg(
                        counted(run.files().size(), u"firmware file"_s),
                        counted(run.deviceCount(), u"transmitter"_s),
                        QString::number(qMin(options.parallel, run.deviceCount())))
                    + (run.unmatchedImages().isEmpty()
                           ? QString()
                           : u"; "_s + unmatchedText(run.unmatchedImages())));
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &run, [&] {
        // Cancelled first: once the message shows, no running upload sends another block.
        run.interrupt();
        display.message(u"tstx-update: interrupted: no further transmitter starts, the running "
                        "ones stop after their current block, within 10 s (Ctrl+C again reports "
                        "and quits at once)"_s);
    });
    QObject::connect(&interrupts, &InterruptWatcher::quitRequested, &run, [&] {
        run.abandonRunning();
        display.finish();
        report(run, options, display);
        // At once: the running uploads would hold the pool, and so the exit, for up to 10 s.
        std::_Exit(quitStatus);
    });
    QObject::connect(&run, &FleetRun::finished, &app, [&] {
        display.finish();
        QCoreApplication::exit(report(run, options, display));
    });
    // From the event loop: a run can end before start() returns, and exit() needs the loop.
    QTimer::singleShot(0, &run, [&] { run.start(options.parallel); });
    return QCoreApplication::exec();
}
