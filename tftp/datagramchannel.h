#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QtGlobal>

class QUdpSocket;

// The three socket operations of a lock-step transfer: wait for a datagram, receive it, send one.
//
// The common case goes straight to the socket's native descriptor: one system call each (on Unix
// the wait and the receive are a single blocking call), no copies, one buffer for the whole
// transfer. Whenever the native call does not simply succeed, the same operation is done through
// QUdpSocket, whose result is final and whose errorString() then tells why it failed. So behaviour
// and error texts are the socket's own.
class DatagramChannel
{
public:
    explicit DatagramChannel(QUdpSocket &socket);

    // True when a datagram can be received within timeoutMs.
    bool waitForDatagram(int timeoutMs);
    // Receives the next datagram whole into datagram(); false when none could be read.
    bool receive();
    [[nodiscard]] const char *datagram() const { return m_buffer.constData(); }
    [[nodiscard]] qsizetype datagramSize() const { return m_datagramSize; }
    [[nodiscard]] quint16 senderPort() const { return m_senderPort; }
    // Sends packet whole to address and port.
    bool send(const QByteArray &packet, const QHostAddress &address, quint16 port);

private:
    enum class Arrival { Received, NotReceived, Unsupported };
    Arrival nativeReceiveWithin(int timeoutMs);
    bool setReceiveTimeout(int timeoutMs);
    bool nativeWait(int timeoutMs);
    bool nativeReceive();
    bool nativeSend(const QByteArray &packet, const QHostAddress &address, quint16 port);

    QUdpSocket &m_socket;
    qintptr m_descriptor = -1;
    bool m_socketIsIPv6 = false;
    QByteArray m_buffer;
    qsizetype m_datagramSize = 0;
    quint16 m_senderPort = 0;
    // The wait already took the datagram: receive() hands it out.
    bool m_datagramTaken = false;
    bool m_blocking = false;
    int m_receiveTimeoutMs = 0;
};
