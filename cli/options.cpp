#include "options.h"

#include "devicelist.h"
#include "networkinterfaces.h"
#include "output.h"
#include "report.h"
#include "runplan.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHostAddress>

using namespace Qt::StringLiterals;

namespace {
// More would only queue in the thread pool; each running update holds one of its threads.
constexpr int maxParallel = 256;

const QString description
    = u"Updates the firmware of Tessaline transmitters over TFTP, many at once.\n"
      "\n"
      "  tstx-update [options] FOLDER DEVICE...\n"
      "  tstx-update [options] FOLDER --devices FILE\n"
      "  tstx-update FOLDER --list\n"
      "\n"
      "Examples:\n"
      "  tstx-update ~/fw --list\n"
      "      what a run would send, in order, with sizes and SHA-256\n"
      "  tstx-update ~/fw 192.168.1.20 192.168.1.21\n"
      "      updates two transmitters\n"
      "  tstx-update ~/fw --devices rack1.txt --parallel 16 --report rack1.json\n"
      "      updates the transmitters listed in rack1.txt, 16 at once, and\n"
      "      writes the results as JSON\n"
      "  tstx-update ~/fw --interface eth1 tx-7.example.net\n"
      "      sends from the interface eth1 to a transmitter named tx-7\n"
      "  tstx-update ~/fw --resend 10.0.0.7\n"
      "      over a lossy link: packets a transmitter does not answer go again\n"
      "\n"
      "A folder that holds a SHA256SUMS file (sha256sum *.bin > SHA256SUMS)\n"
      "is sent only when every firmware image matches its line in it.\n"
      "\n"
      "Exit status: 0 when every transmitter took the whole update, 1 when any\n"
      "did not (it failed, was cancelled or was not started), 2 for a usage\n"
      "error (nothing was sent). Ctrl+C starts no further transmitter and\n"
      "cancels the running ones, then reports; a second Ctrl+C reports and\n"
      "quits at once (130). --list exits with 1 when a run would refuse."_s;

// The first IPv4 address of the interface that bears name, as the window lists it or as the
// system names it; empty when there is none.
QString interfaceAddress(const QString &name)
{
    const InterfaceList interfaces = systemInterfaces();
    for (const InterfaceInfo &info : interfaces) {
        if (info.humanReadableName != name && info.name != name)
            continue;
        for (const QHostAddress &address : info.addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                return address.toString();
        }
    }
    return {};
}

// The names --interface takes, as the window's list shows them.
QString interfaceNames()
{
    QStringList names;
    for (const QString &entry : interfaceEntries(systemInterfaces()))
        names.append(entry.section(interfaceEntrySeparator, 0, 0));
    names.removeDuplicates();
    return names.isEmpty() ? u"(none)"_s : names.join(u", "_s);
}

// Open files that a run needs: the program's own, and for each update at once its socket and
// the event wake-up of the thread it runs on, with room to spare.
constexpr qint64 ownFiles = 32;
constexpr qint64 filesPerUpdate = 3;
} // namespace

QString openFilesProblem(int parallel, qint64 allowed)
{
    const qint64 filesNeeded = ownFiles + filesPerUpdate * parallel;
    if (allowed < 0 || filesNeeded <= allowed)
        return {};
    const qint64 fitting = (allowed - ownFiles) / filesPerUpdate;
    return u"--parallel %1 needs about %2 open files, and this system allows %3; %4"_s.arg(
        QString::number(parallel), QString::number(filesNeeded), QString::number(allowed),
        fitting >= 1 ? u"give --parallel %1 or less, or raise the limit (ulimit -n)"_s.arg(fitting)
                     : u"raise the limit (ulimit -n)"_s);
}

QString parseCommandLine(const QStringList &arguments, Options &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    const QCommandLineOption list(u"list"_s,
                                  u"Print the files a run of FOLDER would send, in sending order "
                                  "with their sizes in bytes and SHA-256, then \"done\"; send "
                                  "nothing."_s);
    const QCommandLineOption devicesFile(u"devices"_s,
                                         u"Read the devices from <file>, one per line; blank lines "
                                         "and # comments are ignored, - reads standard input."_s,
                                         u"file"_s);
    const QCommandLineOption interface(u"interface"_s,
                                       u"Send from the first IPv4 address of this network "
                                       "interface: its name as the window lists it, or the "
                                       "system's name for it."_s,
                                       u"name"_s);
    const QCommandLineOption localAddress(u"local-address"_s, u"Send from this local address."_s,
                                          u"address"_s);
    const QCommandLineOption port(u"port"_s, u"The transmitters' TFTP port (default 69)."_s,
                                  u"port"_s, u"69"_s);
    const QCommandLineOption parallel(
        u"parallel"_s, u"Update up to <n> transmitters at once (default 8)."_s, u"n"_s, u"8"_s);
    const QCommandLineOption report(u"report"_s, u"Also write the summary as JSON to <file>."_s,
                                    u"file"_s);
    const QCommandLineOption resend(
        u"resend"_s,
        u"When a transmitter does not answer in time (a time that follows the round trips "
        "measured so far), send the last packet again, up to the 10 s that a reply may take. "
        "For lossy links to transmitters whose TFTP server ignores a block it already has. Off "
        "by default: some servers (older lwIP ones) write a repeated block twice, which "
        "corrupts the image."_s);
    const QCommandLineOption strict(
        u"strict"_s,
        u"All or nothing: refuse a folder with anything to warn of (copies or versions of one "
        "image, .bin files left out, a checksum list that is not read, an empty primary image), "
        "and count a transmitter that answered an image with an ERROR, which is otherwise taken "
        "as received, as not updated."_s);
    const QCommandLineOption json(
        u"json"_s, u"Print the report's JSON on standard output instead of the table."_s);
    const QCommandLineOption skipUpdated(
        u"skip-updated"_s,
        u"Do not update again the transmitters that <report>, an earlier --report of this tool, "
        "shows updated with the same images (the same names, in the same order, with the same "
        "SHA-256): their result is \"already updated\". It may be the file --report writes, so "
        "that one file keeps a fleet's state from run to run."_s,
        u"report"_s);
    const QCommandLineOption maxFailures(
        u"max-failures"_s,
        u"Once <n> transmitters have failed, start no further one (\"not started\")."_s, u"n"_s);
    const QCommandLineOption canary(u"canary"_s,
                                    u"Update the first <k> transmitters first, on their own; "
                                    "start the others only when all of them are updated."_s,
                                    u"k"_s);
    const QCommandLineOption verbose(u"verbose"_s, u"Show the updater's debugging output."_s);
    parser.addOptions({list, devicesFile, interface, localAddress, port, parallel, report, json,
                       skipUpdated, maxFailures, canary, resend, strict, verbose});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(u"folder"_s,
                                 u"The folder that holds the firmware images (.bin)."_s);
    parser.addPositionalArgument(
        u"device"_s, u"A transmitter's IPv4 address or host name, as typed in the window."_s,
        u"device..."_s);

    if (!parser.parse(arguments))
        return printable(parser.errorText()) + u" Type tstx-update --help for the options."_s;
    if (parser.isSet(help) || parser.isSet(u"help-all"_s))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();

    options.verbose = parser.isSet(verbose);
    options.resend = parser.isSet(resend);
    options.strict = parser.isSet(strict);
    QStringList positional = parser.positionalArguments();
    options.listOnly = parser.isSet(list);
    if (positional.isEmpty())
        return options.listOnly
            ? u"no firmware folder given; type tstx-update FOLDER --list"_s
            : u"no firmware folder given; type tstx-update [options] FOLDER DEVICE..."_s;
    if (options.listOnly && positional.size() > 1)
        return u"--list takes only a folder; type tstx-update FOLDER --list"_s;
    options.folder = positional.takeFirst();
    options.devices = positional;
    const QFileInfo folder(options.folder);
    if (!folder.isDir())
        return u"there is no folder %1; give the folder that holds the firmware images"_s.arg(
            printable(options.folder));
    options.folder = folder.absoluteFilePath();
    if (options.listOnly)
        return {};

    if (parser.isSet(devicesFile)) {
        options.devicesFile = parser.value(devicesFile);
        if (options.devicesFile.isEmpty())
            return u"--devices takes a file name, or - for standard input"_s;
    }

    bool ok = false;
    const uint portNumber = parser.value(port).toUInt(&ok);
    if (!ok || portNumber == 0 || portNumber > 65535)
        return u"--port takes a number from 1 to 65535, not %1"_s.arg(
            printable(parser.value(port)));
    options.port = quint16(portNumber);
    options.parallel = parser.value(parallel).toInt(&ok);
    if (!ok || options.parallel < 1 || options.parallel > maxParallel)
        return u"--parallel takes a number from 1 to %1, not %2"_s.arg(
            QString::number(maxParallel), printable(parser.value(parallel)));

    if (parser.isSet(interface) && parser.isSet(localAddress))
        return u"--interface and --local-address both given; give only one of them"_s;
    if (parser.isSet(interface)) {
        options.localAddress = interfaceAddress(parser.value(interface));
        if (options.localAddress.isEmpty())
            return u"there is no interface %1 with an IPv4 address; give one of: %2"_s.arg(
                printable(parser.value(interface)), printable(interfaceNames()));
    }
    // Read as a device address is: 010.200.000.001 is refused, not taken for 8.200.0.1; and one
    // of this machine's, found now rather than when every transmitter has failed.
    if (parser.isSet(localAddress)) {
        QHostAddress address;
        if (const QString problem
            = readLocalAddress(parser.value(localAddress), systemInterfaces(), address);
            !problem.isEmpty())
            return u"--local-address "_s + printable(problem);
        options.localAddress = address.toString();
    }
    options.json = parser.isSet(json);
    options.skipUpdated = parser.value(skipUpdated);
    if (parser.isSet(skipUpdated) && options.skipUpdated.isEmpty())
        return u"--skip-updated takes an earlier report, such as --skip-updated fleet.json"_s;
    for (const auto &[option, value] :
         {std::pair {&maxFailures, &options.maxFailures}, std::pair {&canary, &options.canary}}) {
        if (!parser.isSet(*option))
            continue;
        *value = parser.value(*option).toInt(&ok);
        if (!ok || *value < 1)
            return u"--%1 takes a number from 1 up, not %2"_s.arg(option->names().constFirst(),
                                                                  printable(parser.value(*option)));
    }
    options.reportFile = parser.value(report);
    // Found out now rather than after a long run.
    if (parser.isSet(report)) {
        if (QString error
            = reportTargetProblem(options.reportFile, options.folder, options.devicesFile);
            !error.isEmpty())
            return error;
    }
    return {};
}

QString readDevices(Options &options)
{
    if (!options.devicesFile.isEmpty()) {
        if (QString error = readDevicesFile(options.devicesFile, options.devices); !error.isEmpty())
            return error;
    }
    return checkDevices(options.devices);
}
