#include "deviceaddress.h"
#include "fileselection.h"
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
} // namespace

void QTftp::startUpdate()
{
    // Read once, now: a change to the folder during the run changes nothing that is sent. A run
    // the address refuses reads nothing.
    const bool sendsNothing = fileList.isEmpty() || !addressProblem(m_remoteAddress).isEmpty();
    startUpdateWith(sendsNothing ? Firmware::ImageSet()
                                 : Firmware::readImages(listedFolder.toLocalFile(), m_listedNames));
}

void QTftp::startUpdateWith(const Firmware::ImageSet &images)
{
    qCDebug(updaterLog) << "Starting the update";
    fileIndex = 0;
    cancelRequested.store(false);
    m_runImages = images;
    m_acceptedErrors.clear();
    m_runAcknowledged = 0;
    m_runSentAnything = false;
    setRunState(Running);
    // An address read another way than it was written would update a transmitter nobody named.
    if (const QString problem = addressProblem(m_remoteAddress); !problem.isEmpty()) {
        setStatus(problem);
        endRun();
        return;
    }
    // Half an update can leave a transmitter off the air: send nothing unless every file can go.
    if (images.refused()) {
        refuseFile(images.refusal);
        endRun();
        return;
    }
    // "done" alone would tell the device that an update it never received is complete.
    if (images.images.isEmpty()) {
        setStatus(
            listedFolder.isEmpty() ? u"No folder listed: nothing was sent"_s
                : !folderExists(listedFolder)
                ? u"There is no folder %1: nothing was sent"_s.arg(displayPath(listedFolder))
                : u"No firmware files in %1: nothing was sent"_s.arg(displayPath(listedFolder)));
        endRun();
        return;
    }
    sendNextFile();
}

void QTftp::sendNextFile()
{
    const int fileCount = int(m_runImages.images.size());
    if (fileIndex <= fileCount && cancelRequested.load()) {
        setStatus(cancelledStatus());
        endRun();
    } else if (fileIndex < fileCount) {
        const Firmware::Image &image = m_runImages.images.at(fileIndex);
        m_runFileText = u"File %1 of %2: %3"_s.arg(QString::number(fileIndex + 1),
                                                   QString::number(fileCount), image.name);
        setRunText(m_runFileText);
        const QUrl url = QUrl::fromLocalFile(image.path);
        logUpload(url);
        startUpload(url, image.bytes);
    } else if (fileIndex == fileCount) {
        m_runFileText = fileCount == 1 ? u"1 file sent, now done"_s
                                       : u"All %1 files sent, now done"_s.arg(fileCount);
        setRunText(m_runFileText);
        const QUrl url(endMarker, QUrl::TolerantMode);
        logUpload(url);
        startUpload(url, std::make_shared<const QByteArray>());
    } else {
        endRun();
    }
}

bool QTftp::sendFile(const QUrl &fileUrl)
{
    logUpload(fileUrl);
    if (fileUrl.toString() == endMarker) {
        startUpload(fileUrl, std::make_shared<const QByteArray>());
        return true;
    }
    Firmware::Read file = Firmware::read(fileUrl.toLocalFile());
    if (file.problem.exists())
        return refuseFile(file.problem.status(fileUrl.toLocalFile()));
    startUpload(fileUrl, std::move(file.bytes));
    return true;
}

// The log lines of each upload, kept as they are: technicians' and support's logs are compared
// against them.
void QTftp::logUpload(const QUrl &fileUrl)
{
    qCDebug(updaterLog) << fileUrl;
    qCDebug(updaterLog) << fileUrl.toLocalFile();
    qCDebug(updaterLog) << fileUrl.fileName(QUrl::FullyDecoded);
}

void QTftp::startUpload(const QUrl &fileUrl, std::shared_ptr<const QByteArray> bytes)
{
    const QString fileName = fileUrl.fileName(QUrl::FullyDecoded);
    m_runSentAnything = true;
    // The request is made here, on the object's thread; the task reads no member of the object.
    // Its bytes are shared with every other upload of the run's image, and held to the task's end.
    futureWatcher.setFuture(HandOver::run(
        QThreadPool::globalInstance(),
        [this, request = uploadRequest(fileName, *bytes)] { return runUpload(request); }));
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
    const qsizetype fileCount = m_runImages.images.size();
    const bool complete = fileIndex > fileCount;
    m_runFileText.clear();
    QString result;
    if (complete) {
        // An ERROR taken as received is a warning even in a complete run: it says so first.
        const QString warnings = m_acceptedErrors.isEmpty()
            ? QString()
            : u" with %1"_s.arg(counted(m_acceptedErrors.size(), u"warning"_s));
        // A name typed: the address it led to, too.
        QString device = readDeviceAddress(m_remoteAddress).text;
        if (!m_deviceAddress.isEmpty() && m_deviceAddress != device)
            device += u" (%1)"_s.arg(m_deviceAddress);
        result = u"Update complete%1: %2 and done sent to %3"_s.arg(
            warnings, counted(fileCount, u"file"_s), device);
    } else if (!m_runSentAnything) {
        result = u"Update NOT complete: nothing was sent"_s;
    } else {
        const QString stop = fileIndex < fileCount
            ? u"file %1 of %2 (%3)"_s.arg(QString::number(fileIndex + 1),
                                          QString::number(fileCount),
                                          m_runImages.images.at(fileIndex).name)
            : u"done"_s;
        result = u"Update NOT complete: %1 at %2; %3 had been sent"_s.arg(
            cancelRequested.load() ? u"stopped on request"_s : u"stopped"_s, stop,
            fileIndex == 0 ? u"no file"_s : counted(qMin(fileIndex, int(fileCount)), u"file"_s));
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
    logWholeIfCut("Run", text);
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
