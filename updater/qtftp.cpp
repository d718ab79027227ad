#include "qtftp.h"

#include "networkinterfaces.h"

#include <QMetaObject>
#include <QThread>
#include <QUdpSocket>

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
    deliverToObjectThread([this, status] { setStatus(status); });
}

void QTftp::reportFileSize(int size)
{
    deliverToObjectThread([this, size] {
        m_fileSize = size;
        emit fileSizeChanged(m_fileSize);
    });
}

void QTftp::reportFileProgress(int progress)
{
    deliverToObjectThread([this, progress] {
        m_fileProgress = progress;
        emit fileProgressChanged(m_fileProgress);
    });
}

void QTftp::reportLocalPort(quint16 port)
{
    deliverToObjectThread([this, port] { setLocalPort(port); });
}
