// The native path of DatagramChannel on Unix (Linux, macOS, the BSDs).
#include "datagramchannel.h"

#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>

#ifdef __linux__
#    include <linux/errqueue.h>
#endif

namespace {
// Fills target with address and port in the socket's family and returns its length; 0 when
// QUdpSocket knows best (a scoped IPv6 address, or a family mismatch).
int fillTarget(sockaddr_storage &target, const QHostAddress &address, quint16 port,
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

constexpr int shortestBlockingWaitMs = 20;

bool setReceiveTimeout(int descriptor, int timeoutMs)
{
    timeval limit {};
    limit.tv_sec = time_t(timeoutMs / 1000);
    limit.tv_usec = suseconds_t(timeoutMs % 1000) * 1000;
    return ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) == 0;
}
} // namespace

bool DatagramChannel::nativePathExists()
{
    return true;
}

// Linux tells an unconnected socket of a port unreachable only when asked to; then the next
// receive fails and the error waits in the socket's error queue with the datagram it refused.
// Elsewhere the wait for a reply runs its time.
void DatagramChannel::nativeReportErrors()
{
#ifdef __linux__
    const int on = 1;
    ::setsockopt(int(m_descriptor), IPPROTO_IP, IP_RECVERR, &on, sizeof(on));
    if (m_socketIsIPv6)
        ::setsockopt(int(m_descriptor), IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof(on));
#endif
}

// Empties the socket's error queue. A router's host unreachable, say, is Other: the device may
// still answer.
DatagramChannel::QueuedErrors DatagramChannel::takeQueuedErrors()
{
    QueuedErrors found = QueuedErrors::None;
#ifdef __linux__
    for (;;) {
        sockaddr_storage target {};
        alignas(cmsghdr) char control[512];
        char refusedStart[64];
        iovec part {refusedStart, sizeof(refusedStart)};
        msghdr message {};
        message.msg_name = &target;
        message.msg_namelen = sizeof(target);
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        if (::recvmsg(int(m_descriptor), &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return found;
        if (found == QueuedErrors::None)
            found = QueuedErrors::Other;
        for (cmsghdr *entry = CMSG_FIRSTHDR(&message); entry;
             entry = CMSG_NXTHDR(&message, entry)) {
            const bool ipv4 = entry->cmsg_level == IPPROTO_IP && entry->cmsg_type == IP_RECVERR;
            const bool ipv6 = entry->cmsg_level == IPPROTO_IPV6 && entry->cmsg_type == IPV6_RECVERR;
            if (!ipv4 && !ipv6)
                continue;
            sock_extended_err error {};
            std::memcpy(&error, CMSG_DATA(entry), sizeof(error));
            const bool portUnreachable
                = (error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == 3 && error.ee_code == 3)
                || (error.ee_origin == SO_EE_ORIGIN_ICMP6 && error.ee_type == 1
                    && error.ee_code == 4);
            if (!portUnreachable || found == QueuedErrors::PortUnreachable)
                continue;
            if (target.ss_family == AF_INET)
                m_refusedPort = ntohs(reinterpret_cast<const sockaddr_in &>(target).sin_port);
            else if (target.ss_family == AF_INET6)
                m_refusedPort = ntohs(reinterpret_cast<const sockaddr_in6 &>(target).sin6_port);
            else
                continue;
            m_refusedAddress.setAddress(reinterpret_cast<const sockaddr *>(&target));
            m_refusalReason = QString::fromLocal8Bit(std::strerror(int(error.ee_errno)));
            found = QueuedErrors::PortUnreachable;
        }
    }
#else
    return found;
#endif
}

// One blocking recvfrom, bounded by the socket's receive time-out, both waits for the reply and
// takes it: one system call and one wake-up per reply instead of poll and then recvfrom. For that
// the descriptor is switched to blocking mode once, behind QUdpSocket's back. That is safe
// because the socket belongs to one transfer on one thread and nothing else waits on it.
DatagramChannel::NativeWait DatagramChannel::nativeWait(int timeoutMs)
{
    const int descriptor = int(m_descriptor);
    if (timeoutMs > 0 && !m_blocking) {
        const int flags = ::fcntl(descriptor, F_GETFL);
        if (flags != -1 && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != -1)
            m_blocking = true;
    }
    // The receive time-out counts in the kernel's ticks (4 ms, say), poll's in milliseconds: the
    // short waits of a transfer that resends go through poll.
    if (timeoutMs > shortestBlockingWaitMs && m_blocking) {
        // A signal can end the wait early: wait again for the time that is left.
        const QDeadlineTimer deadline(timeoutMs);
        int limitMs = timeoutMs;
        for (;;) {
            if (limitMs != m_receiveTimeoutMs) {
                if (!setReceiveTimeout(descriptor, limitMs))
                    break; // left to poll
                m_receiveTimeoutMs = limitMs;
            }
            if (nativeReceive())
                return NativeWait::Taken;
            const int failure = errno;
            if (failure == EAGAIN || failure == EWOULDBLOCK)
                return NativeWait::NotReady; // the time is up
            if (failure != EINTR) {
                switch (takeQueuedErrors()) {
                case QueuedErrors::PortUnreachable:
                    return NativeWait::Refused;
                case QueuedErrors::None:
                    return NativeWait::NotReady; // QUdpSocket tells what failed
                case QueuedErrors::Other:
                    break; // wait on for the device
                }
            }
            limitMs = int(deadline.remainingTime());
            if (limitMs <= 0)
                return NativeWait::NotReady;
        }
    }

    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        pollfd request {};
        request.fd = descriptor;
        request.events = POLLIN;
        const int ready = ::poll(&request, 1, int(deadline.remainingTime()));
        if (ready == 1 && (request.revents & POLLIN) != 0)
            return NativeWait::Ready;
        if (ready == 1 && (request.revents & POLLERR) != 0) {
            switch (takeQueuedErrors()) {
            case QueuedErrors::PortUnreachable:
                return NativeWait::Refused;
            case QueuedErrors::None:
                return NativeWait::NotReady;
            case QueuedErrors::Other:
                continue;
            }
        }
        if (ready == 1 || ready == 0 || errno != EINTR)
            return NativeWait::NotReady;
    }
}

bool DatagramChannel::nativeReceive()
{
    sockaddr_storage sender {};
    socklen_t senderLength = sizeof(sender);
    const ssize_t size = ::recvfrom(int(m_descriptor), m_buffer.data(), size_t(m_buffer.size()), 0,
                                    reinterpret_cast<sockaddr *>(&sender), &senderLength);
    if (size < 0)
        return false;
    if (sender.ss_family == AF_INET)
        m_senderPort = ntohs(reinterpret_cast<const sockaddr_in &>(sender).sin_port);
    else if (sender.ss_family == AF_INET6)
        m_senderPort = ntohs(reinterpret_cast<const sockaddr_in6 &>(sender).sin6_port);
    else
        return false; // not a family a transfer uses: QUdpSocket reads it instead
    m_senderAddress.setAddress(reinterpret_cast<const sockaddr *>(&sender));
    m_datagramSize = qsizetype(size);
    return true;
}

bool DatagramChannel::nativeSend(const QByteArray &packet, const QHostAddress &address,
                                 quint16 port)
{
    sockaddr_storage target {};
    const int targetLength = fillTarget(target, address, port, m_socketIsIPv6);
    if (targetLength == 0)
        return false;
    const ssize_t sent
        = ::sendto(int(m_descriptor), packet.constData(), size_t(packet.size()), 0,
                   reinterpret_cast<const sockaddr *>(&target), socklen_t(targetLength));
    return sent == packet.size();
}
