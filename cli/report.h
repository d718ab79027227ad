#pragma once

#include <QString>

class FleetRun;

// The summary table on standard output: one row per transmitter, and under it what a marked
// result means.
void printSummary(const FleetRun &run);
// Why path cannot take the report (its folder is missing or cannot be written, it names
// something other than a regular file, a file of the firmware folder or the devices file), or an
// empty text. Links are followed. Asked before anything is sent, and again just before writing.
QString reportTargetProblem(const QString &path, const QString &firmwareFolder,
                            const QString &devicesFile);
// The summary as JSON for scripts, written whole or not at all; the failure, or an empty text.
QString writeReport(const QString &path, const FleetRun &run, const QString &folder,
                    const QString &devicesFile);
