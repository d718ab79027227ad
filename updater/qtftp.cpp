#include "qtftp.h"

#include "networkinterfaces.h"

#include <QMetaObject>
#include <QThread>
#include <QUdpSocket>

namespace {
// How often the window's progress bar moves during an upload, at most: 50 times a second.
constexpr qint64 progressDeliveryIntervalMs = 20;
} // namespace

QTftp::QTftp(QObject *parent)
    : QObject(parent)
{
    // Filled once; the window offers the interfaces that exist when it opens.
    m_ifsList = interfaceEntries(systemInterfaces());
    connect(&futureWatcher, &QFutureWatcher<bool>::finished, this, &QTftp::futureFinishHandler);
}

QTftp::~QTftp()
{
    // An upload task works on this object's members: let it end (it does within one reply
    // wait) before they go. Its queued reports die with the object.
    futureWatcher.waitForFinished();
    udpSocket.reset();
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

void QTftp::setIfsList(const QStringList &ifsList)
{
    if (m_ifsList == ifsList)
        return;
    m_ifsList = ifsList;
    emit ifsListChanged(m_ifsList);
}

void QTftp::setStatus(const QString &status)
{
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
        QMetaObject::invokeMethod(this, std::forward<Apply>(apply), Qt::QueuedConnection);
}

void QTftp::reportStatus(const QString &status)
{
    // The window sees the transfer's final progress before the status that ends it.
    if (reportedProgress != deliveredProgress)
        deliverFileProgress();
    deliverToObjectThread([this, status] { setStatus(status); });
}

void QTftp::reportFileSize(int size)
{
    deliverToObjectThread([this, size] {
        m_fileSize = size;
        emit fileSizeChanged(m_fileSize);
    });
}

// Called once per block, tens of thousands of times a second on a fast link. Waking the object's
// thread for each would cost as much as the transfer itself, so the progress is handed over at
// the start of a transfer and then at most once per interval; the status report that ends the
// transfer hands over the final value first.
void QTftp::reportFileProgress(int progress)
{
    reportedProgress = progress;
    if (progress != 0 && progressDeliveryClock.isValid()
        && progressDeliveryClock.elapsed() < progressDeliveryIntervalMs)
        return;
    deliverFileProgress();
}

void QTftp::deliverFileProgress()
{
    const int progress = reportedProgress;
    deliveredProgress = progress;
    progressDeliveryClock.start();
    deliverToObjectThread([this, progress] {
        m_fileProgress = progress;
        emit fileProgressChanged(m_fileProgress);
    });
}

void QTftp::reportLocalPort(quint16 port)
{
    deliverToObjectThread([this, port] { setLocalPort(port); });
}
