// tstx-update: the window's update run for one or many transmitters, from the command line.
#include "console.h"
#include "display.h"
#include "fileselection.h"
#include "firmwarefile.h"
#include "fleetrun.h"
#include "interruptpolicy.h"
#include "options.h"
#include "output.h"
#include "report.h"
#include "runplan.h"
#include "updaterlog.h"
#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThreadPool>
#include <QTimer>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {
constexpr int usageErrorStatus = 2;

int usageError(const QString &message)
{
    writeTo(stderr, u"tstx-update: "_s + message + u'\n');
    return usageErrorStatus;
}

// How many names of .bin files that match no firmware name are spelt out.
constexpr qsizetype unmatchedNamesShown = 10;

// One line per image: its size, its SHA-256 and its name, as --list and the summary show it.
QString imageLine(qint64 size, const QString &sha256, const QString &name)
{
    return u"%1  %2  %3\n"_s.arg(size, 10).arg(sha256, printable(name));
}

// What a listing tells the technician beside the files: copies and versions of one image, each
// of which is sent, the .bin files left out, checksum lists that are not read. One line each,
// made safe for the terminal.
QStringList listingNotes(const QStringList &warnings)
{
    QStringList notes;
    for (const QString &warning : warnings)
        notes.append(u"tstx-update: "_s + printable(warning));
    return notes;
}

// Whether the images were checked against the folder's SHA256SUMS.
QString checksumNote(bool checked)
{
    return checked ? u"tstx-update: every image matches its line in SHA256SUMS"_s
                   : u"tstx-update: the images are not checked: the folder has no SHA256SUMS"_s;
}

// The files a run would send, in sending order with their sizes and SHA-256, then "done". Exits
// with 1 when a run would refuse to start, so that a script can check a folder first, and with
// --strict also when there is anything to warn of.
int listFolder(const QString &folder, bool strict)
{
    const FirmwareListing listing = listFirmware(folder);
    const Firmware::ImageSet images
        = Firmware::readImages(folder, listing, Firmware::Keep::DigestsOnly);
    if (listing.names.isEmpty() && listing.folderProblem.isEmpty())
        writeTo(stderr,
                u"tstx-update: no firmware files in %1, so a run would refuse to start\n"_s.arg(
                    printable(folder)));
    if (images.refused())
        writeTo(stderr,
                u"tstx-update: a run would refuse to start, sending nothing: "_s
                    + printable(images.refusal) + u'\n');
    const QStringList warnings = listing.warnings(unmatchedNamesShown) + images.warnings;
    for (const QString &note : listingNotes(warnings))
        writeTo(stderr, note + u'\n');
    if (!images.refused())
        writeTo(stderr, checksumNote(images.checksumsChecked) + u'\n');
    // A file that stops the run before it is read shows its size on disk, and "-" for its digest.
    QString lines;
    for (qsizetype i = 0; i < listing.names.size(); ++i) {
        const QString &name = listing.names.at(i);
        lines += i < images.images.size()
            ? imageLine(images.images.at(i).size(), images.images.at(i).sha256, name)
            : imageLine(QFileInfo(QDir(folder).filePath(name)).size(), u"-"_s, name);
    }
    writeTo(stdout, lines + imageLine(0, Firmware::sha256Hex({}), u"done"_s));
    const bool refused = listing.names.isEmpty() || images.refused();
    return refused || (strict && !warnings.isEmpty()) ? 1 : 0;
}

// The table, the count, and the report when one was asked for; the exit status of the run.
int report(const FleetRun &run, const Options &options, ProgressDisplay &display)
{
    if (options.json) {
        printReport(run, options.folder);
    } else {
        printSummary(run);
        // Which bytes went out: the same for every transmitter, read once when the run started.
        QString images
            = u"\nThe images of this run, read once when it started (bytes, SHA-256, name):\n"_s;
        for (const FirmwareFile &file : run.files())
            images += imageLine(file.size, file.sha256, file.name);
        writeTo(stdout, images);
    }
    int status = run.allUpdated() ? 0 : 1;
    int updated = 0;
    int accepted = 0;
    int already = 0;
    for (int device = 0; device < run.deviceCount(); ++device) {
        const DeviceOutcome &outcome = run.outcome(device);
        already += outcome.result == DeviceOutcome::AlreadyUpdated;
        updated += outcome.result == DeviceOutcome::Updated
            || outcome.result == DeviceOutcome::AlreadyUpdated;
        accepted += outcome.result == DeviceOutcome::Updated && !outcome.acceptedErrors.isEmpty();
    }
    display.message(u"tstx-update: %1 of %2 updated%3%4%5%6"_s.arg(
        QString::number(updated), counted(run.deviceCount(), u"transmitter"_s),
        already > 0 ? u" (%1 of them already)"_s.arg(already) : QString(),
        run.stopReason().isEmpty() ? QString() : u"; no further one started: "_s + run.stopReason(),
        run.strict() && accepted > 0
            ? u", %1 of them with an ERROR taken as received, which --strict counts as failed"_s
                  .arg(accepted)
            : QString(),
        run.interrupted() ? u" (interrupted)"_s : QString()));
    if (!options.reportFile.isEmpty()) {
        if (const QString error
            = writeReport(options.reportFile, run, options.folder, options.devicesFile);
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
    QCoreApplication::setApplicationVersion(toolVersion());
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
        return listFolder(options.folder, options.strict);
    // Each running update holds a socket and a thread's wake-up: checked before anything is sent.
    if (const QString error = openFilesProblem(options.parallel, Console::raiseOpenFileLimit());
        !error.isEmpty())
        return usageError(error);

    FleetRun run({.localAddress = options.localAddress,
                  .port = options.port,
                  .resendOnSilence = options.resend},
                 options.strict);
    if (const QString error = run.prepare(options.folder); !error.isEmpty())
        return usageError(error);
    if (const QString error = readDevices(options); !error.isEmpty())
        return usageError(error);
    // Every transmitter found once, before the first block goes out to any.
    if (const QString error
        = run.setDevices(options.devices, systemInterfaces(), systemHostLookup());
        !error.isEmpty())
        return usageError(error);
    // Read before the run: --report may name the same file, and rewrites it at the end.
    if (!options.skipUpdated.isEmpty()) {
        QSet<QString> updated;
        if (const QString error = readUpdatedDevices(options.skipUpdated, run.files(), updated);
            !error.isEmpty())
            return usageError(error);
        run.skip(updated);
    }
    run.setMaxFailures(options.maxFailures);
    run.setCanary(options.canary);
    // Each upload blocks a pool thread for its whole length.
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(qMax(pool->maxThreadCount(), options.parallel));

    ProgressDisplay display(run);
    display.message(u"tstx-update: sending %1 and done to %2, %3 at a time"_s.arg(
        counted(run.files().size(), u"firmware file"_s),
        counted(run.deviceCount(), u"transmitter"_s),
        QString::number(qMin(options.parallel, run.deviceCount()))));
    for (const QString &note : listingNotes(run.warnings(unmatchedNamesShown)))
        display.message(note);
    display.message(checksumNote(run.checksumsChecked()));
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
        std::_Exit(InterruptPolicy::exitStatus);
    });
    QObject::connect(&run, &FleetRun::finished, &app, [&] {
        display.finish();
        QCoreApplication::exit(report(run, options, display));
    });
    // From the event loop: a run can end before start() returns, and exit() needs the loop.
    QTimer::singleShot(0, &run, [&] { run.start(options.parallel); });
    return QCoreApplication::exec();
}
