// The native path of DatagramChannel on Windows (Winsock 2, Windows Vista and later for WSAPoll).
#include "datagramchannel.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

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
    if (size < 0)
        return false;
    if (sender.ss_family == AF_INET)
        m_senderPort = ntohs(reinterpret_cast<const sockaddr_in &>(sender).sin_port);
    else if (sender.ss_family == AF_INET6)
        m_senderPort = ntohs(reinterpret_cast<const sockaddr_in6 &>(sender).sin6_port);
    else
        return false;
    m_datagramSize = qsizetype(size);
    return true;
}

bool DatagramChannel::nativeSend(const QByteArray &packet, const QHostAddress &address,
                                 quint16 port)
{
    sockaddr_storage target {};
    int targetLength = 0;
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4 && !m_socketIsIPv6) {
        auto &in = reinterpret_cast<sockaddr_in &>(target);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(ipv4);
        targetLength = sizeof(sockaddr_in);
    } else if (m_socketIsIPv6 && address.scopeId().isEmpty()) {
        // A dual-stack socket reaches an IPv4 device through its IPv4-mapped address.
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(target);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6.sin6_addr, bytes.c, sizeof(bytes.c));
        targetLength = sizeof(sockaddr_in6);
    } else {
        return false; // scoped IPv6 or a family mismatch: QUdpSocket knows best
    }
    const int sent = ::sendto(SOCKET(m_descriptor), packet.constData(), int(packet.size()), 0,
                              reinterpret_cast<const sockaddr *>(&target), targetLength);
    return sent == packet.size();
}
