// The native path of DatagramChannel on Windows (Winsock 2, Windows Vista and later for WSAPoll).
#include "datagramchannel.h"
#include "socketaddress.h"

// Winsock has no receive that both waits a bounded time and takes the datagram without changing
// the socket's mode: WSAPoll waits, then recvfrom takes what is there.
DatagramChannel::NativeWait DatagramChannel::nativeWait(int timeoutMs)
{
    WSAPOLLFD request {};
    request.fd = SOCKET(m_descriptor);
    request.events = POLLIN;
    if (WSAPoll(&request, 1, timeoutMs) == 1 && (request.revents & POLLIN) != 0)
        return NativeWait::Ready;
    return NativeWait::NotReady;
}

bool DatagramChannel::nativeReceive()
{
    sockaddr_storage sender {};
    int senderLength = sizeof(sender);
    const int size = ::recvfrom(SOCKET(m_descriptor), m_buffer.data(), int(m_buffer.size()), 0,
                                reinterpret_cast<sockaddr *>(&sender), &senderLength);
    if (size < 0 || !SocketAddress::senderPort(sender, m_senderPort))
        return false;
    m_datagramSize = qsizetype(size);
    return true;
}

bool DatagramChannel::nativeSend(const QByteArray &packet, const QHostAddress &address,
                                 quint16 port)
{
    sockaddr_storage target {};
    const int targetLength = SocketAddress::fill(target, address, port, m_socketIsIPv6);
    if (targetLength == 0)
        return false;
    const int sent = ::sendto(SOCKET(m_descriptor), packet.constData(), int(packet.size()), 0,
                              reinterpret_cast<const sockaddr *>(&target), int(targetLength));
    return sent == packet.size();
}
