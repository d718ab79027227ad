#include "datagramchannel.h"

#include <QUdpSocket>

namespace {
// Room for the largest UDP payload.
constexpr qsizetype receiveCapacity = 65536;
} // namespace

DatagramChannel::DatagramChannel(QUdpSocket &socket, bool useNativePath)
    : m_socket(socket)
    , m_descriptor(useNativePath && nativePathExists() ? socket.socketDescriptor() : -1)
    , m_socketIsIPv6(socket.localAddress().protocol() == QAbstractSocket::IPv6Protocol
                     || socket.localAddress().protocol() == QAbstractSocket::AnyIPProtocol)
    , m_buffer(receiveCapacity, Qt::Uninitialized)
{
    if (m_descriptor != -1)
        nativeReportErrors();
}

DatagramChannel::Arrival DatagramChannel::receiveWithin(int timeoutMs)
{
    if (m_descriptor != -1) {
        switch (nativeWait(timeoutMs)) {
        case NativeWait::Taken:
            return Arrival::Received;
        case NativeWait::Ready:
            return receiveNow();
        case NativeWait::Refused:
            return Arrival::Refused;
        case NativeWait::NotReady:
            break;
        }
    }
    // Timed out or failed: the socket's own wait has the last word and records the reason.
    if (!m_socket.waitForReadyRead(m_descriptor == -1 ? timeoutMs : 0))
        return Arrival::TimedOut;
    return receiveNow();
}

DatagramChannel::Arrival DatagramChannel::receiveNow()
{
    if (m_descriptor != -1 && nativeReceive())
        return Arrival::Received;
    quint16 port = 0;
    const qint64 size
        = m_socket.readDatagram(m_buffer.data(), m_buffer.size(), &m_senderAddress, &port);
    if (size < 0)
        return Arrival::Failed;
    m_datagramSize = size;
    m_senderPort = port;
    return Arrival::Received;
}

bool DatagramChannel::send(const QByteArray &packet, const QHostAddress &address, quint16 port)
{
    if (m_descriptor != -1 && nativeSend(packet, address, port))
        return true;
    return m_socket.writeDatagram(packet, address, port) == packet.size();
}
