#include "report.h"

#include "console.h"
#include "fleetrun.h"
#include "output.h"
#include "runrecord.h"
#include "version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

using namespace Qt::StringLiterals;

void printSummary(const FleetRun &run)
{
    const QStringList header {u"DEVICE"_s, u"RESULT"_s,  u"FILES"_s,
                              u"BYTES"_s,  u"SECONDS"_s, u"STATUS"_s};
    // Made again when written: a fleet of tens of thousands is not held as a table of texts.
    const auto cells = [&run](int device) {
        const DeviceOutcome &outcome = run.outcome(device);
        return QStringList {printable(shownDevice(outcome)),
                            shownResult(outcome),
                            u"%1/%2"_s.arg(outcome.filesSent).arg(run.fileCount()),
                            QString::number(outcome.bytes),
                            QString::number(outcome.seconds, 'f', 1),
                            printable(outcome.status)};
    };
    QList<qsizetype> widths;
    for (const QString &cell : header)
        widths.append(cell.size());
    QString accepted;
    for (int device = 0; device < run.deviceCount(); ++device) {
        const QStringList row = cells(device);
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths[column], row.at(column).size());
        const DeviceOutcome &outcome = run.outcome(device);
        for (const UpdateEngine::AcceptedError &error : outcome.acceptedErrors) {
            accepted += u"  %1  %2: ERROR %3 %4, after %5 bytes acknowledged\n"_s.arg(
                printable(outcome.device), printable(error.fileName), QString::number(error.code),
                printable(error.message), QString::number(error.bytesAcknowledged));
        }
    }
    // device -1: the header
    const auto line = [&](const QStringList &row, int device) {
        QString text;
        for (qsizetype column = 0; column + 1 < row.size(); ++column) {
            // Coloured after padding: the escapes take no room on the screen.
            const QString cell = row.at(column).leftJustified(widths[column] + 2);
            text += column == 1 && device >= 0 ? inResultColour(stdout, run.outcome(device), cell)
                                               : cell;
        }
        return text + row.constLast() + u'\n';
    };
    constexpr qsizetype writtenAtOnce = 1 << 16; // characters
    QString table = line(header, -1);
    for (int device = 0; device < run.deviceCount(); ++device) {
        table += line(cells(device), device);
        if (table.size() >= writtenAtOnce) {
            writeTo(stdout, table);
            table.clear();
        }
    }
    if (!accepted.isEmpty())
        table
            += u"\n* The device answered a primary image with an ERROR, which the update takes as "
               "received, as the window does; so an updated* transmitter may not hold the whole "
               "image. What it answered, and the bytes of the image it had acknowledged before:\n"_s
            + accepted;
    writeTo(stdout, table);
}

namespace {
// The file a report at path is written to: the path itself, or where its links lead.
QFileInfo reportTarget(const QString &path)
{
    QFileInfo target(path);
    for (int hop = 0; hop < 40 && target.isSymbolicLink(); ++hop)
        target = QFileInfo(target.symLinkTarget());
    return target;
}
} // namespace

QString reportTargetProblem(const QString &path, const QString &firmwareFolder,
                            const QString &devicesFile)
{
    if (path.isEmpty())
        return u"--report takes a file name, such as --report fleet.json"_s;
    const QFileInfo file = reportTarget(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isSymbolicLink())
        return u"the report %1 is a link that leads round in a circle; give a file name, such as "
               "--report fleet.json"_s.arg(printable(path));
    if (!folder.isDir())
        return u"there is no folder for the report %1; give a file in an existing folder"_s.arg(
            printable(path));
    // A file there is an image, SHA256SUMS or something else the next run reads.
    if (folder.canonicalFilePath() == QFileInfo(firmwareFolder).canonicalFilePath())
        return u"the report %1 would be written to %2 in the firmware folder, which the next run "
               "reads; give a report file elsewhere, such as --report fleet.json"_s.arg(
                   printable(path), printable(file.fileName()));
    if (!devicesFile.isEmpty() && devicesFile != u"-"_s && file.exists()
        && file.canonicalFilePath() == QFileInfo(devicesFile).canonicalFilePath())
        return u"the report %1 would replace the devices file %2; give a report file of its own, "
               "such as --report fleet.json"_s.arg(printable(path), printable(devicesFile));
    if (file.exists() && !file.isFile())
        return u"the report %1 is not a regular file; give the path of a new or a regular file"_s
            .arg(printable(path));
    if (!folder.isWritable() || (file.exists() && !file.isWritable()))
        return u"the report %1 cannot be written here; give a file in a folder you can write to"_s
            .arg(printable(path));
    return {};
}

namespace {
QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The report piece by piece, never whole: the head, a line per transmitter, then the totals.
class ReportPieces
{
public:
    ReportPieces(const FleetRun &run, const QString &folder)
        : m_run(run)
        , m_folder(folder)
    { }

    // The next piece; empty once all went.
    QByteArray next()
    {
        const int device = m_next++;
        if (device == 0)
            return head();
        if (device <= m_run.deviceCount())
            return (device > 1 ? ",\n"_ba : QByteArray()) + deviceLine(device - 1);
        if (device == m_run.deviceCount() + 1)
            return tail();
        return {};
    }

private:
    QByteArray head() const
    {
        QJsonArray files;
        for (const FirmwareFile &file : m_run.files())
            files.append(QJsonObject {
                {u"name"_s, file.name}, {u"size"_s, file.size}, {u"sha256"_s, file.sha256}});
        const UpdateEngine::Options &options = m_run.options();
        const QJsonObject head {{u"tool"_s, u"tstx-update"_s},
                                {u"version"_s, toolVersion()},
                                {u"started"_s, jsonTime(m_run.startedAt())},
                                {u"ended"_s, jsonTime(m_run.endedAt())},
                                {u"folder"_s, m_folder},
                                {u"port"_s, options.port},
                                {u"localAddress"_s, options.localAddress},
                                {u"sha256sumsChecked"_s, m_run.checksumsChecked()},
                                {u"files"_s, files}};
        QByteArray text = compact(head);
        text.chop(1); // the closing brace: the devices follow
        return text + ",\n\"devices\": [\n";
    }

    QByteArray deviceLine(int device)
    {
        const DeviceOutcome &outcome = m_run.outcome(device);
        ++m_counts[outcome.result];
        return compact({{u"device"_s, outcome.device},
                        {u"address"_s, outcome.address},
                        {u"result"_s, resultText(outcome.result)},
                        {u"filesSent"_s, outcome.filesSent},
                        {u"filesTotal"_s, m_run.fileCount()},
                        {u"bytes"_s, outcome.bytes},
                        {u"seconds"_s, outcome.seconds},
                        {u"started"_s, jsonTime(outcome.started)},
                        {u"ended"_s, jsonTime(outcome.ended)},
                        {u"status"_s, outcome.status},
                        {u"acceptedErrors"_s, acceptedErrorsJson(outcome.acceptedErrors)}});
    }

    QByteArray tail() const
    {
        const QJsonObject totals {{u"devices"_s, m_run.deviceCount()},
                                  {u"updated"_s, m_counts[DeviceOutcome::Updated]},
                                  {u"alreadyUpdated"_s, m_counts[DeviceOutcome::AlreadyUpdated]},
                                  {u"failed"_s, m_counts[DeviceOutcome::Failed]},
                                  {u"cancelled"_s, m_counts[DeviceOutcome::Cancelled]},
                                  {u"notStarted"_s, m_counts[DeviceOutcome::NotStarted]}};
        return "\n],\n\"totals\": "_ba + compact(totals)
            + ",\n\"interrupted\": " + (m_run.interrupted() ? "true" : "false") + "\n}\n";
    }

    const FleetRun &m_run;
    QString m_folder;
    int m_next = 0;
    std::array<int, DeviceOutcome::AlreadyUpdated + 1> m_counts {};
};
} // namespace

QString writeReport(const QString &path, const FleetRun &run, const QString &folder,
                    const QString &devicesFile)
{
    // Looked at again: during a long run the path may have become a link to something else.
    if (const QString problem = reportTargetProblem(path, folder, devicesFile); !problem.isEmpty())
        return u"the report was not written: "_s + problem;
    ReportPieces pieces(run, folder);
    // Through a link to the file it leads to, which the check before the run looked at.
    const QString error = Console::replaceFile(reportTarget(path).absoluteFilePath(),
                                               [&pieces] { return pieces.next(); });
    if (!error.isEmpty())
        return u"could not write the report %1: %2; the file is left as it was"_s.arg(
            printable(path), error);
    return {};
}

void printReport(const FleetRun &run, const QString &folder)
{
    ReportPieces pieces(run, folder);
    for (QByteArray piece = pieces.next(); !piece.isEmpty(); piece = pieces.next())
        writeBytesTo(stdout, piece);
}

QString readUpdatedDevices(const QString &path, const QList<FirmwareFile> &files,
                           QSet<QString> &updated)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return u"cannot read the earlier report %1: %2; give a report that tstx-update wrote"_s.arg(
            printable(path), file.errorString());
    QJsonParseError parseError;
    const QJsonObject report = QJsonDocument::fromJson(file.readAll(), &parseError).object();
    const QJsonArray earlierFiles = report.value(u"files"_s).toArray();
    const QJsonArray devices = report.value(u"devices"_s).toArray();
    if (parseError.error != QJsonParseError::NoError || !report.value(u"files"_s).isArray()
        || !report.value(u"devices"_s).isArray())
        return u"%1 is not a report of tstx-update; give a file that --report wrote"_s.arg(
            printable(path));
    // The same images: the same names, in the same order, with the same SHA-256.
    bool same = earlierFiles.size() == files.size();
    for (qsizetype i = 0; same && i < files.size(); ++i) {
        const QJsonObject earlier = earlierFiles.at(i).toObject();
        same = earlier.value(u"name"_s).toString() == files.at(i).name
            && earlier.value(u"sha256"_s).toString() == files.at(i).sha256;
    }
    if (!same)
        return {};
    for (const QJsonValue device : devices) {
        const QString result = device.toObject().value(u"result"_s).toString();
        if (result == resultText(DeviceOutcome::Updated)
            || result == resultText(DeviceOutcome::AlreadyUpdated))
            updated.insert(device.toObject().value(u"device"_s).toString().trimmed());
    }
    return {};
}
