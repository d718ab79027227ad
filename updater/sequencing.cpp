#include "firmwarefile.h"
#include "handover.h"
#include "networkinterfaces.h"
#include "qtftp.h"
#include "updaterlog.h"

#include <QThreadPool>

using namespace Qt::StringLiterals;

namespace {
// The empty upload that tells the device the run is complete.
const QString endMarker = u"done"_s;

QString filesText(qsizetype count)
{
    return count == 1 ? u"1 file"_s : u"%1 files"_s.arg(count);
}
} // namespace

QUrl QTftp::entryUrl(qsizetype index) const
{
    return QUrl(fileList.at(index), QUrl::TolerantMode);
}

qsizetype QTftp::firstUnsendableFile(Firmware::Problem &problem) const
{
    for (qsizetype i = 0; i < fileList.size(); ++i) {
        problem = Firmware::check(entryUrl(i).toLocalFile());
        if (problem.exists())
            return i;
    }
    return -1;
}

QString QTftp::runRefusal() const
{
    Firmware::Problem problem;
    const qsizetype index = firstUnsendableFile(problem);
    return index < 0 ? QString() : problem.status(entryUrl(index).toLocalFile());
}

void QTftp::startUpdate()
{
    qCDebug(updaterLog) << "Starting the update";
    fileIndex = 0;
    cancelRequested.store(false);
    m_acceptedErrors.clear();
    m_runAcknowledged = 0;
    m_runSentAnything = false;
    setRunState(Running);
    // "done" alone would tell the device that an update it never received is complete.
    if (fileList.isEmpty()) {
        setStatus(
            listedFolder.isEmpty() ? u"No folder listed: nothing was sent"_s
                : !folderExists(listedFolder)
                ? u"There is no folder %1: nothing was sent"_s.arg(displayPath(listedFolder))
                : u"No firmware files in %1: nothing was sent"_s.arg(displayPath(listedFolder)));
        endRun();
        return;
    }
    // Half an update can leave a transmitter off the air: send nothing unless every file can go.
    if (const QString refusal = runRefusal(); !refusal.isEmpty()) {
        refuseFile(refusal);
        endRun();
        return;
    }
    sendNextFile();
}

void QTftp::sendNextFile()
{
    const int fileCount = int(fileList.size());
    bool started = true;
    if (fileIndex <= fileCount && cancelRequested.load()) {
        setStatus(cancelledStatus());
        started = false;
    } else if (fileIndex < fileCount) {
        const QUrl file = entryUrl(fileIndex);
        m_runFileText
            = u"File %1 of %2: %3"_s.arg(QString::number(fileIndex + 1), QString::number(fileCount),
                                         file.fileName(QUrl::FullyDecoded));
        setRunText(m_runFileText);
        started = sendFile(file);
    } else if (fileIndex == fileCount) {
        m_runFileText = fileCount == 1 ? u"1 file sent, now done"_s
                                       : u"All %1 files sent, now done"_s.arg(fileCount);
        setRunText(m_runFileText);
        started = sendFile(QUrl(endMarker, QUrl::TolerantMode));
    }
    if (!started || fileIndex > fileCount)
        endRun();
}

bool QTftp::sendFile(const QUrl &fileUrl)
{
    // The log lines of each upload, kept as they are: technicians' and support's logs are
    // compared against them.
    qCDebug(updaterLog) << fileUrl;
    qCDebug(updaterLog) << fileUrl.toLocalFile();
    qCDebug(updaterLog) << fileUrl.fileName(QUrl::FullyDecoded);

    // Shared with every other upload of the same file in flight; held by the task to its end.
    std::shared_ptr<const QByteArray> fileData;
    if (fileUrl.toString() != endMarker) {
        // Checked again at its turn: the file may have changed since the run began.
        Firmware::Image image = Firmware::load(fileUrl.toLocalFile());
        if (image.problem.exists())
            return refuseFile(image.problem.status(fileUrl.toLocalFile()));
        fileData = std::move(image.bytes);
    } else {
        fileData = std::make_shared<const QByteArray>();
    }
    const QString fileName = fileUrl.fileName(QUrl::FullyDecoded);
    m_runSentAnything = true;
    futureWatcher.setFuture(
        HandOver::run(QThreadPool::globalInstance(),
                      [this, fileName, fileData] { return uploadFile(fileName, *fileData); }));
    return true;
}

bool QTftp::refuseFile(const QString &status)
{
    setStatus(status);
    // None of this file went out: the bar must not show the last file's full progress.
    m_fileProgress = 0;
    emit fileProgressChanged(m_fileProgress);
    return false;
}

void QTftp::futureFinishHandler()
{
    // A task that never ran (its pool was shut down) left no result: that is a failed upload.
    const bool uploaded = futureWatcher.future().resultCount() > 0 && futureWatcher.result();
    qCDebug(updaterLog) << uploaded;
    m_runAcknowledged += transferAcknowledged.exchange(0);
    if (uploaded) {
        ++fileIndex;
        sendNextFile();
    } else {
        endRun();
    }
}

qint64 QTftp::acknowledgedBytes() const
{
    return m_runAcknowledged + transferAcknowledged.load();
}

// Every run ends here: the result told, then updateCompleted.
void QTftp::endRun()
{
    const qsizetype fileCount = fileList.size();
    const bool complete = fileIndex > fileCount;
    m_runFileText.clear();
    QString result;
    if (complete) {
        // An ERROR taken as received is a warning even in a complete run: it says so first.
        const QString warnings = m_acceptedErrors.isEmpty() ? QString()
            : m_acceptedErrors.size() == 1                  ? u" with 1 warning"_s
                                           : u" with %1 warnings"_s.arg(m_acceptedErrors.size());
        result = u"Update complete%1: %2 and done sent to %3"_s.arg(warnings, filesText(fileCount),
                                                                    m_remoteAddress);
    } else if (!m_runSentAnything) {
        result = u"Update NOT complete: nothing was sent"_s;
    } else {
        const QString stop = fileIndex < fileCount
            ? u"file %1 of %2 (%3)"_s.arg(QString::number(fileIndex + 1),
                                          QString::number(fileCount),
                                          entryUrl(fileIndex).fileName(QUrl::FullyDecoded))
            : u"done"_s;
        result = u"Update NOT complete: %1 at %2; %3 had been sent"_s.arg(
            cancelRequested.load() ? u"stopped on request"_s : u"stopped"_s, stop,
            fileIndex == 0 ? u"no file"_s : filesText(qMin(fileIndex, int(fileCount))));
        result += interfaceHint();
    }
    for (const AcceptedError &accepted : std::as_const(m_acceptedErrors)) {
        result += u"; %1 was answered with ERROR %2 \"%3\" after %4 bytes, taken as received"_s.arg(
            accepted.fileName, QString::number(accepted.code), accepted.message,
            QString::number(accepted.bytesAcknowledged));
    }
    setRunText(result);
    setRunState(complete ? Complete : Incomplete);
    emit updateCompleted();
}

QString QTftp::interfaceHint() const
{
    // The system refused to send: mostly a transmitter on another network than the interface.
    if (!m_errorString.startsWith(u"Did not send packet to host"_s))
        return {};
    QString name = m_localAddress;
    for (const InterfaceInfo &info : systemInterfaces()) {
        if (info.addresses.contains(QHostAddress(m_localAddress))) {
            name = info.humanReadableName + interfaceEntrySeparator + m_localAddress;
            break;
        }
    }
    return u". Sent from %1: is the transmitter reachable from this interface?"_s.arg(name);
}

void QTftp::setRunText(const QString &text)
{
    if (m_runText == text)
        return;
    m_runText = text;
    emit runTextChanged(m_runText);
}

void QTftp::setRunState(RunState state)
{
    if (m_runState == state)
        return;
    m_runState = state;
    emit runStateChanged(m_runState);
}
