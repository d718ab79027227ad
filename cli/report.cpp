#include "report.h"

#include "display.h"
#include "fleetrun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <array>

using namespace Qt::StringLiterals;

void printSummary(const FleetRun &run)
{
    QList<QStringList> rows {
        {u"DEVICE"_s, u"RESULT"_s, u"FILES"_s, u"BYTES"_s, u"SECONDS"_s, u"STATUS"_s}};
    for (int device = 0; device < run.deviceCount(); ++device) {
        const DeviceOutcome &outcome = run.outcome(device);
        rows.append({printable(outcome.device), resultText(outcome.result),
                     u"%1/%2"_s.arg(outcome.filesSent).arg(run.fileCount()),
                     QString::number(outcome.bytes), QString::number(outcome.seconds, 'f', 1),
                     printable(outcome.status)});
    }
    QList<qsizetype> widths(rows.constFirst().size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths[column], row.at(column).size());
    }
    QString table;
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype column = 0; column + 1 < row.size(); ++column)
            table += row.at(column).leftJustified(widths[column] + 2);
        table += row.constLast() + u'\n';
    }
    writeTo(stdout, table);
}

QString writeReport(const QString &path, const FleetRun &run, const QString &folder)
{
    QJsonArray files;
    for (const FirmwareFile &file : run.files())
        files.append(QJsonObject {{u"name"_s, file.name}, {u"size"_s, file.size}});
    QJsonArray devices;
    std::array<int, DeviceOutcome::Cancelled + 1> counts {};
    for (int device = 0; device < run.deviceCount(); ++device) {
        const DeviceOutcome &outcome = run.outcome(device);
        ++counts[outcome.result];
        devices.append(QJsonObject {{u"device"_s, outcome.device},
                                    {u"result"_s, resultText(outcome.result)},
                                    {u"filesSent"_s, outcome.filesSent},
                                    {u"filesTotal"_s, run.fileCount()},
                                    {u"bytes"_s, outcome.bytes},
                                    {u"seconds"_s, outcome.seconds},
                                    {u"status"_s, outcome.status}});
    }
    const QJsonObject totals {{u"devices"_s, run.deviceCount()},
                              {u"updated"_s, counts[DeviceOutcome::Updated]},
                              {u"failed"_s, counts[DeviceOutcome::Failed]},
                              {u"cancelled"_s, counts[DeviceOutcome::Cancelled]},
                              {u"notStarted"_s, counts[DeviceOutcome::NotStarted]}};
    const QJsonObject report {{u"folder"_s, folder},
                              {u"files"_s, files},
                              {u"devices"_s, devices},
                              {u"totals"_s, totals},
                              {u"interrupted"_s, run.interrupted()}};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(report).toJson()) < 0
        || !file.commit())
        return u"could not write the report %1: %2"_s.arg(printable(path), file.errorString());
    return {};
}
