#include "datagramchannel.h"

#include <QDeadlineTimer>
#include <QUdpSocket>

#include <cstring>
#include <utility>

#if defined(Q_OS_WIN)
#    include <winsock2.h>
#    include <ws2tcpip.h>
#    define TSTX_NATIVE_SOCKETS 1
using NativeSocket = SOCKET;
using NativeLength = int;
static int pollOne(pollfd *request, int timeoutMs)
{
    return WSAPoll(request, 1, timeoutMs);
}
static bool interruptedBySignal()
{
    return false;
}
#elif defined(Q_OS_UNIX)
#    include <arpa/inet.h>
#    include <cerrno>
#    include <fcntl.h>
#    include <netinet/in.h>
#    include <poll.h>
#    include <sys/socket.h>
#    include <sys/time.h>
#    define TSTX_NATIVE_SOCKETS 1
using NativeSocket = int;
using NativeLength = socklen_t;
static int pollOne(pollfd *request, int timeoutMs)
{
    return ::poll(request, 1, timeoutMs);
}
static bool interruptedBySignal()
{
    return errno == EINTR;
}
#endif

namespace {
// Room for the largest UDP payload.
constexpr qsizetype receiveCapacity = 65536;
} // namespace

DatagramChannel::DatagramChannel(QUdpSocket &socket)
    : m_socket(socket)
    , m_descriptor(socket.socketDescriptor())
    , m_socketIsIPv6(socket.localAddress().protocol() == QAbstractSocket::IPv6Protocol
                     || socket.localAddress().protocol() == QAbstractSocket::AnyIPProtocol)
    , m_buffer(receiveCapacity, Qt::Uninitialized)
{ }

bool DatagramChannel::waitForDatagram(int timeoutMs)
{
    switch (nativeReceiveWithin(timeoutMs)) {
    case Arrival::Received:
        m_datagramTaken = true;
        return true;
    case Arrival::NotReceived:
        break;
    case Arrival::Unsupported:
        if (nativeWait(timeoutMs))
            return true;
        break;
    }
    // Timed out or failed: the socket's own wait has the last word and records the reason.
    return m_socket.waitForReadyRead(m_descriptor == -1 ? timeoutMs : 0);
}

bool DatagramChannel::receive()
{
    if (std::exchange(m_datagramTaken, false))
        return true;
    if (nativeReceive())
        return true;
    quint16 port = 0;
    const qint64 size = m_socket.readDatagram(m_buffer.data(), m_buffer.size(), nullptr, &port);
    if (size < 0)
        return false;
    m_datagramSize = size;
    m_senderPort = port;
    return true;
}

bool DatagramChannel::send(const QByteArray &packet, const QHostAddress &address, quint16 port)
{
    if (nativeSend(packet, address, port))
        return true;
    return m_socket.writeDatagram(packet, address, port) == packet.size();
}

#if defined(Q_OS_UNIX)

// One blocking recvfrom, bounded by the socket's receive time-out, both waits for the reply and
// takes it: one system call and one wake-up per reply instead of poll and then recvfrom. For that
// the socket is switched to blocking mode once; it belongs to this transfer and dies with it.
DatagramChannel::Arrival DatagramChannel::nativeReceiveWithin(int timeoutMs)
{
    if (m_descriptor == -1 || timeoutMs <= 0)
        return Arrival::Unsupported;
    if (!m_blocking) {
        const int flags = ::fcntl(int(m_descriptor), F_GETFL);
        if (flags == -1 || ::fcntl(int(m_descriptor), F_SETFL, flags & ~O_NONBLOCK) == -1)
            return Arrival::Unsupported;
        m_blocking = true;
    }
    // A signal can end the wait early: wait again for the time that is left.
    const QDeadlineTimer deadline(timeoutMs);
    int limitMs = timeoutMs;
    for (;;) {
        if (!setReceiveTimeout(limitMs))
            return Arrival::Unsupported;
        if (nativeReceive())
            return Arrival::Received;
        if (errno != EINTR)
            return Arrival::NotReceived;
        limitMs = int(deadline.remainingTime());
        if (limitMs <= 0)
            return Arrival::NotReceived;
    }
}

bool DatagramChannel::setReceiveTimeout(int timeoutMs)
{
    if (timeoutMs == m_receiveTimeoutMs)
        return true;
    timeval limit {};
    limit.tv_sec = time_t(timeoutMs / 1000);
    limit.tv_usec = suseconds_t(timeoutMs % 1000) * 1000;
    if (::setsockopt(int(m_descriptor), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) != 0)
        return false;
    m_receiveTimeoutMs = timeoutMs;
    return true;
}

#else

DatagramChannel::Arrival DatagramChannel::nativeReceiveWithin(int)
{
    return Arrival::Unsupported; // a wait, then a receive
}

bool DatagramChannel::setReceiveTimeout(int)
{
    return false;
}

#endif

#if defined(TSTX_NATIVE_SOCKETS)

bool DatagramChannel::nativeWait(int timeoutMs)
{
    if (m_descriptor == -1)
        return false;
    // A signal can end the wait early: wait again for the time that is left.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        pollfd request {};
        request.fd = NativeSocket(m_descriptor);
        request.events = POLLIN;
        const int ready = pollOne(&request, int(deadline.remainingTime()));
        if (ready == 1)
            return (request.revents & POLLIN) != 0;
        if (ready == 0 || !interruptedBySignal())
            return false;
    }
}

bool DatagramChannel::nativeReceive()
{
    if (m_descriptor == -1)
        return false;
    sockaddr_storage sender {};
    NativeLength senderLength = sizeof(sender);
    const auto size = ::recvfrom(NativeSocket(m_descriptor), m_buffer.data(), int(m_buffer.size()),
                                 0, reinterpret_cast<sockaddr *>(&sender), &senderLength);
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
    if (m_descriptor == -1)
        return false;
    sockaddr_storage target {};
    NativeLength targetLength = 0;
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
    const auto sent = ::sendto(NativeSocket(m_descriptor), packet.constData(), int(packet.size()),
                               0, reinterpret_cast<const sockaddr *>(&target), targetLength);
    return sent == packet.size();
}

#else

bool DatagramChannel::nativeWait(int)
{
    return false;
}

bool DatagramChannel::nativeReceive()
{
    return false;
}

bool DatagramChannel::nativeSend(const QByteArray &, const QHostAddress &, quint16)
{
    return false;
}

#endif
