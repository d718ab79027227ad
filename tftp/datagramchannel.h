#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QtGlobal>

class QUdpSocket;

// The two socket operations of a lock-step transfer: receive the next datagram within a time,
// send one.
//
// The common case goes straight to the socket's native descriptor: one system call each (on Unix
// the wait and the receive are a single blocking call), no copies, one buffer for the whole
// transfer. Whenever the native call does not simply succeed, the same operation is done through
// QUdpSocket, whose result is final and whose errorString() then tells why it failed. So behaviour
// and error texts are the socket's own.
//
// The native path is the platform's own file, chosen by CMake: datagramchannel_unix.cpp where
// CI runs it, datagramchannel_plain.cpp (QUdpSocket alone) everywhere else, Windows included.
// This header and datagramchannel.cpp are the same everywhere.
class DatagramChannel
{
public:
    // useNativePath false: QUdpSocket alone, as on platforms without a native path.
    DatagramChannel(QUdpSocket &socket, bool useNativePath);

    enum class Arrival {
        Received, // the whole datagram is in datagram(), its sender in senderAddress() and Port()
        TimedOut, // none came within the time; the socket's errorString() says so
        Failed, // one came but could not be read; the socket's errorString() says why
        Refused, // a datagram sent to refusedAddress() and Port() was answered "port unreachable"
    };
    Arrival receiveWithin(int timeoutMs);
    [[nodiscard]] const char *datagram() const { return m_buffer.constData(); }
    [[nodiscard]] qsizetype datagramSize() const { return m_datagramSize; }
    [[nodiscard]] const QHostAddress &senderAddress() const { return m_senderAddress; }
    [[nodiscard]] quint16 senderPort() const { return m_senderPort; }
    // After Refused: where the refused datagram went, and the system's words for it.
    [[nodiscard]] const QHostAddress &refusedAddress() const { return m_refusedAddress; }
    [[nodiscard]] quint16 refusedPort() const { return m_refusedPort; }
    [[nodiscard]] const QString &refusalReason() const { return m_refusalReason; }
    // Sends packet whole to address and port.
    bool send(const QByteArray &packet, const QHostAddress &address, quint16 port);

private:
    // What the native wait found.
    enum class NativeWait {
        Taken, // the datagram is already in the buffer
        Ready, // a datagram can be received now
        NotReady, // nothing came in time, or the native wait failed
        Refused, // the system reported a port unreachable for a datagram sent
    };
    Arrival receiveNow();
    // The platform's file defines these; each is called only with a valid descriptor, which the
    // constructor sets only where nativePathExists().
    static bool nativePathExists();
    // Asks the system to report the ICMP errors of datagrams sent, which an unconnected socket
    // does not otherwise see.
    void nativeReportErrors();
    NativeWait nativeWait(int timeoutMs);
    enum class QueuedErrors { None, Other, PortUnreachable };
    QueuedErrors takeQueuedErrors();
    bool nativeReceive();
    bool nativeSend(const QByteArray &packet, const QHostAddress &address, quint16 port);

    QUdpSocket &m_socket;
    qintptr m_descriptor = -1;
    bool m_socketIsIPv6 = false;
    QByteArray m_buffer;
    qsizetype m_datagramSize = 0;
    QHostAddress m_senderAddress;
    quint16 m_senderPort = 0;
    QHostAddress m_refusedAddress;
    quint16 m_refusedPort = 0;
    QString m_refusalReason;
    // Unix only: the descriptor is in blocking mode, with this receive time-out.
    bool m_blocking = false;
    int m_receiveTimeoutMs = 0;
};
