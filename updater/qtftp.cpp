#include "qtftp.h"

#include "handover.h"
#include "networkinterfaces.h"
#include "printable.h"
#include "updaterlog.h"

#include <QMetaObject>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {
// How often the window's progress bar moves during an upload: 25 times a second, smooth to the
// eye; each move redraws the window, which a run through the window pays for on a busy CPU.
constexpr int progressSampleIntervalMs = 40;
// A device that has not answered for this long is waited for, and the run's line says so.
constexpr qint64 silenceShownAfterMs = 1000;
} // namespace

QTftp::QTftp(QObject *parent)
    : QObject(parent)
{
    connect(&futureWatcher, &QFutureWatcher<bool>::finished, this, &QTftp::futureFinishHandler);
    progressTimer.setInterval(progressSampleIntervalMs);
    connect(&progressTimer, &QTimer::timeout, this, [this] { publishTransferProgress(); });
}

QTftp::~QTftp()
{
    // An upload task works on this object's members: let it end (it does within one reply
    // wait) before they go. Its queued reports die with the object.
    futureWatcher.waitForFinished();
}

QString QTftp::updaterVersion()
{
    return QStringLiteral(TSTX_UPDATER_VERSION);
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

// The one hand-over from the upload task to the GUI thread. Queued calls to this object run in
// the order they were posted, before the watcher's "finished" that the task's end posts later,
// so when a run ends the properties already hold the task's last reports.
template<typename Apply> void QTftp::deliverToObjectThread(Apply &&apply)
{
    if (QThread::currentThread() == thread())
        apply();
    else
        QMetaObject::invokeMethod(this, HandOver::Queued(std::forward<Apply>(apply)),
                                  Qt::QueuedConnection);
}

void QTftp::reportStatus(const QString &status)
{
    deliverToObjectThread([this, status] {
        // The window sees a transfer's final progress before the status that ends it.
        if (progressTimer.isActive()) {
            progressTimer.stop();
            publishTransferProgress();
            showWaiting(0);
        }
        setStatus(status);
    });
}

void QTftp::reportFileSize(int size)
{
    deliverToObjectThread([this, size] {
        m_fileSize = size;
        emit fileSizeChanged(m_fileSize);
    });
}

// Called for every block, tens of thousands of times a second on a fast link: waking the GUI
// thread for each would cost as much as the transfer itself. So the task only stores the value;
// the start of a transfer is signalled at once, and then the GUI thread samples the value while
// the transfer runs.
void QTftp::reportFileProgress(int progress)
{
    transferProgress.store(progress, std::memory_order_relaxed);
    if (progress == 0) {
        deliverToObjectThread([this] {
            m_fileProgress = 0;
            emit fileProgressChanged(m_fileProgress);
            sinceProgress.start();
            progressTimer.start();
        });
    }
}

// The next block goes out only once the device acknowledged the last: progress that stands
// still means the device is silent.
void QTftp::publishTransferProgress()
{
    const int progress = transferProgress.load(std::memory_order_relaxed);
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

void QTftp::stopUpdate()
{
    // Said once, however often Stop is pressed.
    if (m_runState != Running || cancelRequested.load())
        return;
    cancelUpdate();
    m_runFileText += u"; stopping after the current block"_s;
    setRunText(m_runFileText);
}

void QTftp::reportLocalPort(quint16 port)
{
    deliverToObjectThread([this, port] { setLocalPort(port); });
}

void QTftp::reportDeviceAddress(const QString &address)
{
    deliverToObjectThread([this, address] { m_deviceAddress = address; });
}

void QTftp::reportAcceptedError(const AcceptedError &accepted)
{
    deliverToObjectThread([this, accepted] { m_acceptedErrors.append(accepted); });
}
