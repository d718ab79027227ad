// DatagramChannel on platforms without a native path, Windows among them: every operation goes
// through QUdpSocket. The constructor leaves the descriptor unset here, so none of the native
// functions below is ever called.
#include "datagramchannel.h"

bool DatagramChannel::nativePathExists()
{
    return false;
}

void DatagramChannel::nativeReportErrors() { }

DatagramChannel::QueuedErrors DatagramChannel::takeQueuedErrors()
{
    return QueuedErrors::None;
}

DatagramChannel::NativeWait DatagramChannel::nativeWait(int)
{
    return NativeWait::NotReady;
}

bool DatagramChannel::nativeReceive()
{
    return false;
}

bool DatagramChannel::nativeSend(const QByteArray &, const QHostAddress &, quint16)
{
    return false;
}
