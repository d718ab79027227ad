// The native path of DatagramChannel on Unix (Linux, macOS, the BSDs).
#include "datagramchannel.h"
#include "socketaddress.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace {
bool setReceiveTimeout(int descriptor, int timeoutMs)
{
    timeval limit {};
    limit.tv_sec = time_t(timeoutMs / 1000);
    limit.tv_usec = suseconds_t(timeoutMs % 1000) * 1000;
    return ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) == 0;
}
} // namespace

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
    if (timeoutMs > 0 && m_blocking) {
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
            if (errno != EINTR)
                return NativeWait::NotReady;
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
        if (ready == 1)
            return (request.revents & POLLIN) != 0 ? NativeWait::Ready : NativeWait::NotReady;
        if (ready == 0 || errno != EINTR)
            return NativeWait::NotReady;
    }
}

bool DatagramChannel::nativeReceive()
{
    sockaddr_storage sender {};
    socklen_t senderLength = sizeof(sender);
    const ssize_t size = ::recvfrom(int(m_descriptor), m_buffer.data(), size_t(m_buffer.size()), 0,
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
    const ssize_t sent
        = ::sendto(int(m_descriptor), packet.constData(), size_t(packet.size()), 0,
                   reinterpret_cast<const sockaddr *>(&target), socklen_t(targetLength));
    return sent == packet.size();
}
