#pragma once

#include <QByteArrayList>
#include <QStringList>
#include <QUdpSocket>

#include <functional>

// A stand-in transmitter on a loopback address, served by the event loop of the thread that made
// it: answers the n-th datagram it receives with reply(n, datagram), after delayMs, and keeps
// every datagram. The one stand-in of the tests, the benchmarks and the window's pictures.
class ScriptedDevice
{
public:
    using Reply = std::function<QByteArrayList(int n, const QByteArray &datagram)>;
    explicit ScriptedDevice(Reply reply = acknowledge,
                            const QString &address = QStringLiteral("127.0.0.1"), quint16 port = 0);

    // ACK 0 to a write request, ACK n to DATA n.
    static QByteArrayList acknowledge(int n, const QByteArray &datagram);

    [[nodiscard]] quint16 port() const { return m_socket.localPort(); } // 0: not bound
    // The file names of the write requests, in the order they came.
    [[nodiscard]] QStringList requests() const;

    QByteArrayList received; // every datagram, while recording
    bool recording = true;
    quint16 peerPort = 0; // of the latest datagram
    double delayMs = 0; // before each answer, as a device writing flash waits; below 1 it blocks

private:
    void take();

    Reply m_reply;
    QUdpSocket m_socket;
    int m_count = 0; // datagrams received
};
