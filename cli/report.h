#pragma once

#include <QString>

class FleetRun;

// The summary table on standard output: one row per transmitter.
void printSummary(const FleetRun &run);
// The summary as JSON for scripts, written whole or not at all; the failure, or an empty text.
QString writeReport(const QString &path, const FleetRun &run, const QString &folder);
