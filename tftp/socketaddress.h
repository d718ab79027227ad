#pragma once

// The socket addresses of the native datagram path. Every platform with a native path has the
// same BSD socket structures; only the headers that declare them differ.

#include <QHostAddress>

#if defined(Q_OS_WIN)
#    include <winsock2.h>
#    include <ws2tcpip.h>
#else
#    include <arpa/inet.h>
#    include <netinet/in.h>
#    include <sys/socket.h>
#endif

#include <cstring>

namespace SocketAddress {

// The port a datagram came from; false for a family a transfer does not use.
inline bool senderPort(const sockaddr_storage &sender, quint16 &port)
{
    if (sender.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in &>(sender).sin_port);
    else if (sender.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6 &>(sender).sin6_port);
    return sender.ss_family == AF_INET || sender.ss_family == AF_INET6;
}

// Fills target with address and port in the socket's family and returns its length; 0 when
// QUdpSocket knows best (a scoped IPv6 address, or a family mismatch).
inline int fill(sockaddr_storage &target, const QHostAddress &address, quint16 port,
                bool socketIsIPv6)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4 && !socketIsIPv6) {
        auto &in = reinterpret_cast<sockaddr_in &>(target);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(ipv4);
        return int(sizeof(sockaddr_in));
    }
    if (!socketIsIPv6 || !address.scopeId().isEmpty())
        return 0;
    // A dual-stack socket reaches an IPv4 device through its IPv4-mapped address.
    auto &in6 = reinterpret_cast<sockaddr_in6 &>(target);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::memcpy(&in6.sin6_addr, bytes.c, sizeof(bytes.c));
    return int(sizeof(sockaddr_in6));
}

} // namespace SocketAddress
