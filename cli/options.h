#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for, checked.
struct Options
{
    QString folder; // absolute
    bool listOnly = false; // --list: show the sending order, send nothing
    QStringList devices; // in the order given, each once, once readDevices has added the file's
    QString devicesFile; // --devices: a file, or "-" for standard input
    QString localAddress; // empty: the system chooses
    quint16 port = 69;
    int parallel = 8;
    bool resend = false; // --resend: the last packet again when a transmitter is silent
    bool strict = false; // --strict: no warnings, and an ERROR taken as received is a failure
    QString reportFile;
    bool json = false; // --json: the report's JSON on standard output instead of the table
    QString
        skipUpdated; // --skip-updated: an earlier report, whose updated transmitters are skipped
    int maxFailures = 0; // --max-failures: no further start after that many failed; 0: no limit
    int canary = 0; // --canary: the first K updated first, on their own
    bool verbose = false;
};

// Reads the command line into options. Returns the usage error, one line that says what was
// wrong and what to type instead, or an empty text. --help and --version print and exit.
QString parseCommandLine(const QStringList &arguments, Options &options);

// Adds the devices of the devices file to those of the command line, and checks them all. Done
// after the folder's check, so that a folder that cannot go is refused at once, however large
// the fleet. Returns the usage error, or an empty text.
QString readDevices(Options &options);

// Why --parallel cannot run where the process may have allowed files open (-1: no such limit),
// or an empty text.
QString openFilesProblem(int parallel, qint64 allowed);
