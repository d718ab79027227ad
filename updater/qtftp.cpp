#include "qtftp.h"

#include "deviceaddress.h"
#include "firmwarefile.h"
#include "handover.h"
#include "networkinterfaces.h"
#include "packets.h"
#include "printable.h"
#include "runrecord.h"
#include "settings.h"
#include "updaterlog.h"
#include "version.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
// How often the window's progress bar moves during an upload: 25 times a second, smooth to the
// eye; each move redraws the window, which a run through the window pays for on a busy CPU.
constexpr int progressSampleIntervalMs = 40;
// A device that has not answered for this long is waited for, and the run's line says so.
constexpr qint64 silenceShownAfterMs = 1000;
// How many left-out names the status line spells out before it counts the rest.
constexpr qsizetype unmatchedNamesShown = 3;
} // namespace

const QList<QRegularExpression> &QTftp::primaryPatterns = FirmwareNames::primaryPatterns;
const QList<QRegularExpression> &QTftp::secondaryPatterns = FirmwareNames::secondaryPatterns;
QStringList QTftp::errorTolerantFiles;

// A lone upload's reports, from the thread it runs on to the object's.
class QTftp::UploadReports final : public Tftp::Upload::Observer
{
public:
    explicit UploadReports(QTftp &tftp)
        : m_tftp(tftp)
    { }

    void localPortBound(quint16 port) override
    {
        m_tftp.deliverToObjectThread([tftp = &m_tftp, port] { tftp->setLocalPort(port); });
    }
    void statusChanged(const QString &status) override
    {
        m_tftp.deliverToObjectThread([tftp = &m_tftp, status] { tftp->engineStatus(status); });
    }
    void fileSizeKnown(qint64 size) override
    {
        m_tftp.transferProgress.store(0, std::memory_order_relaxed);
        m_tftp.deliverToObjectThread([tftp = &m_tftp, size] { tftp->fileSizeKnown(size); });
    }
    void progressed(qint64 bytesOnTheWire) override
    {
        m_tftp.transferProgress.store(int(bytesOnTheWire), std::memory_order_relaxed);
    }

private:
    QTftp &m_tftp;
};

QTftp::QTftp(QObject *parent)
    : QObject(parent)
{
    connect(&futureWatcher, &QFutureWatcher<bool>::finished, this, &QTftp::futureFinishHandler);
    connect(&m_listingReader, &QFutureWatcherBase::finished, this, &QTftp::listingRead);
    connect(&m_planner, &QFutureWatcherBase::finished, this, &QTftp::planMade);
    progressTimer.setInterval(progressSampleIntervalMs);
    connect(&progressTimer, &QTimer::timeout, this, [this] { publishTransferProgress(); });
}

QTftp::~QTftp()
{
    // The tasks on the pool report to this object: let them end (an upload does within one
    // reply wait) before the members go.
    m_planner.waitForFinished();
    m_listingReader.waitForFinished();
    futureWatcher.waitForFinished();
}

QString QTftp::updaterVersion()
{
    return toolVersion();
}

void QTftp::setRemoteAddress(const QString &remoteAddress)
{
    if (m_remoteAddress == remoteAddress)
        return;
    m_remoteAddress = remoteAddress;
    emit remoteAddressChanged(m_remoteAddress);
}

void QTftp::setRemotePort(quint16 remotePort)
{
    if (m_remotePort == remotePort)
        return;
    m_remotePort = remotePort;
    emit remotePortChanged(m_remotePort);
}

void QTftp::setLocalAddress(const QString &localAddress)
{
    // An interface chosen: the remembered one is no longer missed.
    if (!localAddress.isEmpty() && !m_missingInterface.isEmpty()) {
        m_missingInterface.clear();
        emit missingInterfaceChanged(m_missingInterface);
    }
    if (m_localAddress == localAddress)
        return;
    m_localAddress = localAddress;
    emit localAddressChanged(m_localAddress);
}

void QTftp::setLocalPort(quint16 localPort)
{
    if (m_localPort == localPort)
        return;
    m_localPort = localPort;
    emit localPortChanged(m_localPort);
}

QStringList QTftp::ifsList() const
{
    // Filled once; the window offers the interfaces that exist when it first shows the list.
    if (!m_ifsListRead) {
        m_ifsList = interfaceEntries(systemInterfaces());
        m_ifsListRead = true;
    }
    return m_ifsList;
}

void QTftp::setIfsList(const QStringList &ifsList)
{
    if (this->ifsList() == ifsList)
        return;
    m_ifsList = ifsList;
    emit ifsListChanged(m_ifsList);
}

QString QTftp::shownText(const QString &text)
{
    return ::shownText(text);
}

void QTftp::logWholeIfCut(const char *what, const QString &text)
{
    if (text.size() > shownTextLimit)
        qCInfo(updaterLog).noquote() << what << "(whole):" << printable(text);
}

void QTftp::setStatus(const QString &status)
{
    logWholeIfCut("Status", status);
    m_errorString = status;
    emit errorStringChanged(m_errorString);
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

// --- The listing ---------------------------------------------------------------------------

void QTftp::takeListing(const QUrl &folder, const FirmwareListing &listing)
{
    listedFolder = folder;
    m_listing = listing;
    fileList.clear();
    for (const QString &name : listing.names) {
        fileList.append(firmwareEntry(folder, name));
        if (listing.primaryNames.contains(name))
            errorTolerantFiles.append(name.toLower());
    }
    // Kept as they are, the fixed "dsda" included: technicians' and support's logs are compared
    // against these lines.
    qCDebug(updaterLog) << fileList;
    qCDebug(updaterLog) << "dsda";
}

void QTftp::buildFileList(const QUrl &filesFolder)
{
    const QString path = filesFolder.toLocalFile();
    takeListing(filesFolder, folderExists(filesFolder) ? listFirmware(path) : FirmwareListing());
    m_listedImages.reset();
    setRunText({});
    setRunState(Idle);
    // A mistyped path from a dialog is no folder at all, not an empty one.
    if (!folderExists(listedFolder)) {
        setStatus(u"There is no folder %1"_s.arg(displayPath(listedFolder)));
        return;
    }
    setStatus(listingSummary(nullptr));
    // Read for what would stop a run and for the digests the window may show, without holding
    // the window: a large folder takes seconds. A later listing makes this one's result stale.
    const int generation = ++m_listingGeneration;
    m_listingReader.setFuture(
        HandOver::run(QThreadPool::globalInstance(), [path, listing = m_listing, generation] {
            return std::pair {generation,
                              Firmware::readImages(path, listing, Firmware::Keep::DigestsOnly)};
        }));
}

void QTftp::listingRead()
{
    if (m_listingReader.future().resultCount() == 0)
        return;
    auto [generation, images] = m_listingReader.result();
    if (generation != m_listingGeneration)
        return;
    m_listedImages = std::make_shared<const Firmware::ImageSet>(std::move(images));
    // A run that started meanwhile has its own status to tell.
    if (m_runState == Running)
        return;
    if (const QString summary = listingSummary(m_listedImages.get()); summary != m_errorString)
        setStatus(summary);
}

// What the status line says after a listing: what a run will send, what would stop it, and which
// images it will leave out or send twice over, so that neither a bad, a misnamed nor a copied
// image goes unnoticed.
QString QTftp::listingSummary(const Firmware::ImageSet *images) const
{
    const QStringList &names = m_listing.names;
    QString summary;
    if (!m_listing.folderProblem.isEmpty())
        return u"Could not read the folder %1: %2"_s.arg(displayPath(listedFolder),
                                                         m_listing.folderProblem);
    if (names.isEmpty())
        summary = u"No firmware files in %1"_s.arg(displayPath(listedFolder));
    else
        summary = u"Ready to send %1: %2"_s.arg(counted(names.size(), u"firmware file"_s),
                                                names.join(u", "_s));
    if (images && images->refused())
        summary += u"; %1, so a run will send nothing"_s.arg(images->refusalNote);
    else if (images && images->checksumsChecked)
        summary += u"; checked against %1"_s.arg(Firmware::checksumFileName);
    QStringList warnings = m_listing.warnings(unmatchedNamesShown);
    if (images)
        warnings += images->warnings;
    for (const QString &warning : warnings)
        summary += u"; "_s + warning;
    return summary;
}

bool QTftp::folderExists(const QUrl &folder)
{
    return folder.isLocalFile() && QFileInfo(folder.toLocalFile()).isDir();
}

QString QTftp::displayPath(const QUrl &folder)
{
    return folder.isLocalFile() ? QDir::toNativeSeparators(folder.toLocalFile())
                                : folder.toString();
}

QStringList QTftp::unmatchedImages() const
{
    return m_listing.unmatched;
}

QString QTftp::imageSha256(const QString &fileName) const
{
    for (const std::shared_ptr<const Firmware::ImageSet> &set : {m_plan.images, m_listedImages}) {
        if (!set)
            continue;
        for (const Firmware::Image &image : set->images) {
            if (image.name == fileName)
                return image.sha256;
        }
    }
    return {};
}

// --- The run -------------------------------------------------------------------------------

void QTftp::startUpdate()
{
    qCDebug(updaterLog) << "Starting the update";
    m_runStarted = QDateTime::currentDateTime();
    fileIndex = 0;
    m_cancelRequested = false;
    m_runSentAnything = false;
    m_engine.reset();
    m_plan = RunPlan();
    setRunState(Running);
    // An address read another way than it was written would update a transmitter nobody named.
    // Read once, here: the plan looks a name up from this reading.
    const DeviceAddress device = readDeviceAddress(m_remoteAddress);
    if (!device.problem.isEmpty())
        return refuseRun(device.problem);
    if (!m_missingInterface.isEmpty() && m_localAddress.isEmpty())
        return refuseRun(u"The interface %1 chosen last has no IPv4 address now: choose the "
                         "interface to send from; nothing was sent"_s.arg(m_missingInterface));
    if (listedFolder.isEmpty())
        return refuseRun(u"No folder listed: nothing was sent"_s);
    // Listed, read and looked up once, now and off this thread: a change to the folder or to the
    // name's address during the run changes nothing that is sent.
    setRunText(u"Reading the firmware images"_s);
    m_planner.setFuture(HandOver::run(
        QThreadPool::globalInstance(),
        [folder = listedFolder.toLocalFile(), device, interfaces = systemInterfaces(),
         lookup = m_hostLookup] { return planRun(folder, device, interfaces, lookup); }));
}

void QTftp::planMade()
{
    // A task that never ran (its pool was shut down) made no plan.
    if (m_planner.future().resultCount() == 0)
        return refuseRun(u"The images could not be read: nothing was sent"_s);
    m_plan = m_planner.result();
    // The listing made anew at Start, as the status line tells it.
    takeListing(listedFolder, *m_plan.listing);
    m_listedImages = m_plan.images;
    if (m_cancelRequested)
        return refuseRun(cancelledStatus());
    if (m_plan.refused())
        return refuseRun(m_plan.refusal);
    UpdateEngine::Options options = m_engineOptions;
    options.localAddress = m_localAddress;
    options.port = m_remotePort;
    m_engine = std::make_unique<UpdateEngine>(m_plan.images, m_plan.device.address, options);
    UpdateEngine *engine = m_engine.get();
    connect(engine, &UpdateEngine::fileStarted, this, &QTftp::fileStarted);
    connect(engine, &UpdateEngine::fileSizeKnown, this, &QTftp::fileSizeKnown);
    connect(engine, &UpdateEngine::statusChanged, this, &QTftp::engineStatus);
    connect(engine, &UpdateEngine::localPortBound, this, &QTftp::setLocalPort);
    connect(engine, &UpdateEngine::ended, this, [this, engine] {
        fileIndex = engine->currentFileIndex();
        // "done" taken: past the last entry.
        if (engine->outcome() == UpdateEngine::Outcome::Complete)
            fileIndex = engine->fileCount();
        endRun();
    });
    engine->start();
}

void QTftp::fileStarted(int index)
{
    fileIndex = index;
    m_runSentAnything = true;
    const int imageCount = m_engine->fileCount() - 1;
    if (index < imageCount)
        m_runFileText = u"File %1 of %2: %3"_s.arg(
            QString::number(index + 1), QString::number(imageCount), m_engine->fileName(index));
    else
        m_runFileText = imageCount == 1 ? u"1 file sent, now done"_s
                                        : u"All %1 files sent, now done"_s.arg(imageCount);
    if (m_cancelRequested)
        m_runFileText += u"; stopping after the current block"_s;
    setRunText(m_runFileText);
}

void QTftp::fileSizeKnown(qint64 size)
{
    m_fileSize = int(size);
    emit fileSizeChanged(m_fileSize);
    m_fileProgress = 0;
    emit fileProgressChanged(m_fileProgress);
    sinceProgress.start();
    progressTimer.start();
}

void QTftp::engineStatus(const QString &status)
{
    // The window sees a transfer's final progress before the status that ends it.
    if (progressTimer.isActive()) {
        progressTimer.stop();
        publishTransferProgress();
        showWaiting(0);
    }
    setStatus(status);
}

// The next block goes out only once the device acknowledged the last: progress that stands
// still means the device is silent.
void QTftp::publishTransferProgress()
{
    const int progress = m_engine && m_runState == Running
        ? int(m_engine->sampledProgress())
        : transferProgress.load(std::memory_order_relaxed);
    if (progress == m_fileProgress) {
        showWaiting(sinceProgress.elapsed());
        return;
    }
    sinceProgress.start();
    showWaiting(0);
    m_fileProgress = progress;
    emit fileProgressChanged(m_fileProgress);
}

void QTftp::showWaiting(qint64 silentMs)
{
    if (m_runFileText.isEmpty())
        return;
    setRunText(silentMs < silenceShownAfterMs
                   ? m_runFileText
                   : u"%1; waiting for the device to answer (%2 s)"_s.arg(
                       m_runFileText, QString::number(silentMs / 1000)));
}

void QTftp::cancelUpdate()
{
    m_cancelRequested = true;
    if (m_engine)
        m_engine->cancel();
}

void QTftp::stopUpdate()
{
    // Said once, however often Stop is pressed.
    if (m_runState != Running || m_cancelRequested)
        return;
    cancelUpdate();
    if (m_runFileText.isEmpty())
        return setRunText(u"Reading the firmware images; stopping before anything is sent"_s);
    m_runFileText += u"; stopping after the current block"_s;
    setRunText(m_runFileText);
}

void QTftp::refuseRun(const QString &status)
{
    setStatus(status);
    // None of this run went out: the bar must not show the last file's full progress.
    m_fileProgress = 0;
    emit fileProgressChanged(m_fileProgress);
    endRun();
}

QList<QTftp::AcceptedError> QTftp::acceptedErrors() const
{
    return m_engine ? m_engine->acceptedErrors() : QList<AcceptedError>();
}

qint64 QTftp::acknowledgedBytes() const
{
    return m_engine ? m_engine->acknowledgedBytes() : 0;
}

int QTftp::currentFileIndex() const
{
    return fileIndex;
}

QString QTftp::deviceAddress() const
{
    return m_plan.device.address.toString();
}

QString QTftp::addressProblem(const QString &typed)
{
    return readDeviceAddress(typed).problem;
}

// Every run ends here: the result told, then updateCompleted.
void QTftp::endRun()
{
    const int fileCount = m_engine ? m_engine->fileCount() - 1 : 0;
    const bool complete = m_engine && m_engine->outcome() == UpdateEngine::Outcome::Complete;
    const QList<AcceptedError> accepted = acceptedErrors();
    m_runFileText.clear();
    QString result;
    if (complete) {
        // An ERROR taken as received is a warning even in a complete run: it says so first.
        const QString warnings = accepted.isEmpty()
            ? QString()
            : u" with %1"_s.arg(counted(accepted.size(), u"warning"_s));
        result = u"Update complete%1: %2 and done sent to %3"_s.arg(
            warnings, counted(fileCount, u"file"_s), m_plan.device.shown());
    } else if (!m_runSentAnything) {
        result = u"Update NOT complete: nothing was sent"_s;
    } else {
        const QString stop = fileIndex < fileCount
            ? u"file %1 of %2 (%3)"_s.arg(QString::number(fileIndex + 1),
                                          QString::number(fileCount), m_engine->fileName(fileIndex))
            : u"done"_s;
        result = u"Update NOT complete: %1 at %2; %3 had been sent"_s.arg(
            m_cancelRequested ? u"stopped on request"_s : u"stopped"_s, stop,
            fileIndex == 0 ? u"no file"_s : counted(qMin(fileIndex, fileCount), u"file"_s));
        result += interfaceHint();
    }
    for (const AcceptedError &error : accepted) {
        result += u"; %1 was answered with ERROR %2 \"%3\" after %4 bytes, taken as received"_s.arg(
            error.fileName, QString::number(error.code), error.message,
            QString::number(error.bytesAcknowledged));
    }
    // Nothing that failed goes untold: a record that cannot be written is said with the result.
    if (const QString error = recordRun(result, complete); !error.isEmpty())
        result += u"; the record of this run could not be written: "_s + error;
    setRunText(result);
    setRunState(complete ? Complete : Incomplete);
    emit updateCompleted();
}

QString QTftp::interfaceOfLocalAddress() const
{
    for (const InterfaceInfo &info : systemInterfaces()) {
        if (!m_localAddress.isEmpty() && info.addresses.contains(QHostAddress(m_localAddress)))
            return info.humanReadableName;
    }
    return {};
}

QString QTftp::interfaceHint() const
{
    // The system refused to send: mostly a transmitter on another network than the interface.
    if (!m_engine || m_engine->failure() != Tftp::Upload::Failure::SendFailed)
        return {};
    const QString interface = interfaceOfLocalAddress();
    const QString name = interface.isEmpty() ? m_localAddress
                                             : interface + interfaceEntrySeparator + m_localAddress;
    return u". Sent from %1: is the transmitter reachable from this interface?"_s.arg(name);
}

QString QTftp::recordRun(const QString &result, bool complete)
{
    RunRecord record;
    record.started = m_runStarted;
    record.ended = QDateTime::currentDateTime();
    record.folder = displayPath(listedFolder);
    record.interfaceName = interfaceOfLocalAddress();
    record.localAddress = m_localAddress;
    record.port = m_remotePort;
    record.device = m_remoteAddress.trimmed();
    record.address = m_runSentAnything ? deviceAddress() : QString();
    record.status = m_errorString;
    record.runText = result;
    if (m_plan.images) {
        record.checksumsChecked = m_plan.images->checksumsChecked;
        record.images = m_plan.images->images;
    }
    record.filesTotal = int(record.images.size()) + 1;
    record.filesSent = complete ? record.filesTotal : qMin(fileIndex, record.filesTotal);
    record.bytes = acknowledgedBytes();
    record.acceptedErrors = acceptedErrors();
    record.result = complete ? u"updated"_s
        : !m_runSentAnything ? u"not started"_s
        : m_cancelRequested  ? u"cancelled"_s
                             : u"failed"_s;
    QString error;
    const QString path = writeRunRecord(record, error);
    if (path.isEmpty())
        return error;
    m_lastRunRecord = path;
    emit lastRunRecordChanged(m_lastRunRecord);
    return {};
}

QUrl QTftp::runRecordsFolderUrl()
{
    return QUrl::fromLocalFile(runRecordsFolder());
}

// --- One upload outside a run --------------------------------------------------------------

// The one hand-over from a lone upload to the GUI thread. Queued calls to this object run in
// the order they were posted, before the watcher's "finished" that the task's end posts later.
template<typename Apply> void QTftp::deliverToObjectThread(Apply &&apply)
{
    if (QThread::currentThread() == thread())
        apply();
    else
        QMetaObject::invokeMethod(this, HandOver::Queued(std::forward<Apply>(apply)),
                                  Qt::QueuedConnection);
}

bool QTftp::sendFile(const QUrl &fileUrl)
{
    qCDebug(updaterLog) << fileUrl;
    qCDebug(updaterLog) << fileUrl.toLocalFile();
    qCDebug(updaterLog) << fileUrl.fileName(QUrl::FullyDecoded);
    QByteArray bytes;
    if (fileUrl.toString() != UpdateEngine::endMarker) {
        Firmware::Read file = Firmware::read(fileUrl.toLocalFile());
        if (file.problem.exists()) {
            setStatus(file.problem.status(fileUrl.toLocalFile()));
            return false;
        }
        bytes = *file.bytes;
    }
    // The request is made here, on the object's thread; the task reads no member of the object.
    futureWatcher.setFuture(
        HandOver::run(QThreadPool::globalInstance(),
                      [this, request = uploadRequest(fileUrl.fileName(QUrl::FullyDecoded), bytes)] {
                          UploadReports reports(*this);
                          return Tftp::Upload(request, reports).run();
                      }));
    return true;
}

void QTftp::futureFinishHandler()
{
    const bool uploaded = futureWatcher.future().resultCount() > 0 && futureWatcher.result();
    qCDebug(updaterLog) << uploaded;
    if (uploaded)
        ++fileIndex;
    emit updateCompleted();
}

bool QTftp::uploadFile(QString fileName, QByteArray fileData)
{
    // Refused here as a run refuses it before its first file: nothing goes out.
    if (const QString problem = addressProblem(m_remoteAddress); !problem.isEmpty()) {
        deliverToObjectThread([this, problem] { setStatus(problem); });
        return false;
    }
    UploadReports reports(*this);
    return Tftp::Upload(uploadRequest(fileName, fileData), reports).run();
}

Tftp::Upload::Request QTftp::uploadRequest(const QString &fileName,
                                           const QByteArray &fileData) const
{
    // Read as typed: 192.168.001.010 is refused, never taken for 192.168.1.8.
    const DeviceAddress device = readDeviceAddress(m_remoteAddress);
    return {.localAddress = m_localAddress,
            .deviceAddress = device.address,
            .deviceName = device.isHostName() ? device.text : QString(),
            .remotePort = m_remotePort,
            .fileName = fileName,
            .fileData = fileData,
            .errorCountsAsTaken = errorTolerantFiles.contains(fileName.toLower()),
            .cancelRequested = nullptr,
            .replyTimeoutMs = m_engineOptions.replyTimeoutMs,
            .plainSocketPath = m_engineOptions.plainSocketPath,
            .resendOnSilence = m_engineOptions.resendOnSilence};
}

QByteArray QTftp::buildWriteRequest(QString fileName, QByteArray fileData)
{
    return Tftp::writeRequest(fileName, fileData.size());
}

QString QTftp::cancelledStatus()
{
    return Tftp::Upload::cancelledStatus();
}

// --- Remembered choices and interfaces -----------------------------------------------------

void QTftp::saveNetworkIf(const QString &ifName)
{
    const QString systemName = systemNameOf(systemInterfaces(), ifName);
    if (!systemName.isEmpty())
        Settings::saveInterface(systemName);
}

void QTftp::saveNetworkAddr(const QString &addr)
{
    Settings::saveAddress(addr);
}

QString QTftp::loadNetoworkIf()
{
    return Settings::savedInterface();
}

QString QTftp::loadNetworkAddr()
{
    return Settings::savedAddress();
}

int QTftp::savedInterfaceIndex()
{
    return entryIndexOf(systemInterfaces(), ifsList(), loadNetoworkIf());
}

void QTftp::saveFolder(const QUrl &folder)
{
    // Kept as a path, which is what the settings file's reader knows the folder by.
    if (folder.isLocalFile())
        Settings::saveFolder(folder.toLocalFile());
}

int QTftp::preferredInterfaceIndex()
{
    const InterfaceList interfaces = systemInterfaces();
    const QString saved = loadNetoworkIf();
    const auto remembered
        = std::find_if(interfaces.cbegin(), interfaces.cend(),
                       [&](const InterfaceInfo &info) { return info.name == saved; });
    if (remembered == interfaces.cend())
        return reachingEntryIndex(interfaces, ifsList());
    const int index = entryIndexOf(interfaces, ifsList(), saved);
    // Sending from whatever the system picks would not be what the technician chose.
    const QString missing = index < 0 ? remembered->humanReadableName : QString();
    if (missing != m_missingInterface) {
        m_missingInterface = missing;
        emit missingInterfaceChanged(m_missingInterface);
    }
    return index;
}

void QTftp::refreshInterfaces()
{
    setIfsList(interfaceEntries(systemInterfaces()));
}

QUrl QTftp::chooseFolder(const QUrl &folder)
{
    // Qt Quick's dialog leaves the separator of a typed path at its end.
    QUrl chosen = folder.isLocalFile() ? QUrl::fromLocalFile(QDir::cleanPath(folder.toLocalFile()))
                                       : folder;
    saveFolder(chosen);
    buildFileList(chosen);
    return chosen;
}

QUrl QTftp::restoreFolder()
{
    const QString saved = Settings::savedFolder();
    if (saved.isEmpty())
        return {};
    if (!QFileInfo(saved).isDir()) {
        setStatus(u"The folder chosen last is gone: %1. Open a folder to begin"_s.arg(
            QDir::toNativeSeparators(saved)));
        return {};
    }
    QUrl folder = QUrl::fromLocalFile(saved);
    buildFileList(folder);
    return folder;
}

QUrl QTftp::startFolder()
{
    const QString saved = Settings::savedFolder();
    if (!saved.isEmpty() && QFileInfo(saved).isDir())
        return QUrl::fromLocalFile(saved);
    return QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
}
