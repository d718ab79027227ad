#pragma once

#include <QList>
#include <QSet>
#include <QString>

class FleetRun;
struct FirmwareFile;

// The summary table on standard output: one row per transmitter, and under it what a marked
// result means.
void printSummary(const FleetRun &run);
// Why path cannot take the report (its folder is missing or cannot be written, it names
// something other than a regular file, a file of the firmware folder or the devices file), or an
// empty text. Links are followed. Asked before anything is sent, and again just before writing.
QString reportTargetProblem(const QString &path, const QString &firmwareFolder,
                            const QString &devicesFile);
// The summary as JSON for scripts, written whole or not at all, piece by piece: a fleet's report
// is never held whole. The failure, or an empty text.
QString writeReport(const QString &path, const FleetRun &run, const QString &folder,
                    const QString &devicesFile);
// The same JSON on standard output (--json), piece by piece.
void printReport(const FleetRun &run, const QString &folder);
// The transmitters that the report at path shows updated (or already updated) with the same
// images as files (the same names, in order, with the same SHA-256); none when its images were
// others. The usage error for a file that cannot be read or is no such report, or an empty text.
QString readUpdatedDevices(const QString &path, const QList<FirmwareFile> &files,
                           QSet<QString> &updated);
