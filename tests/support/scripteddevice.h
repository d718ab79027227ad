#pragma once

// A stand-in for the device's TFTP server that does what a real server won't: it answers each
// datagram it receives with the replies of the next step of a script, from the socket the step
// names, and records everything it received.
//
// Steps are used one per received datagram; an empty step stays silent. After the last step the
// fallback answers (setFallback), or the device stays silent when there is none;
// setAcknowledgeRest(true) makes the fallback acknowledge every write request (ACK 0) and every
// DATA block (ACK n), from the socket that received it. The device lives in the test's thread and
// answers while that thread runs its event loop (QTRY_*, QSignalSpy::wait), so the upload must run
// on another thread. Only 127.0.0.0/8 is used.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QString>
#include <QStringList>
#include <QUdpSocket>

#include <functional>
#include <memory>
#include <vector>

class ScriptedDevice
{
public:
    // One datagram the device received.
    struct Received
    {
        int socket = 0; // index of the device socket that received it (0: the listening one)
        QHostAddress senderAddress;
        quint16 senderPort = 0;
        QByteArray bytes;

        [[nodiscard]] quint16 opcode() const { return number(0); }
        // The block number of a DATA packet.
        [[nodiscard]] quint16 block() const { return number(2); }
        [[nodiscard]] QByteArray payload() const { return bytes.mid(4); }
        [[nodiscard]] quint16 number(int offset) const
        {
            if (bytes.size() < offset + 2)
                return 0xffff;
            return quint16((quint8(bytes[offset]) << 8) | quint8(bytes[offset + 1]));
        }
    };

    // One datagram to send back, and the device socket to send it from.
    struct Reply
    {
        QByteArray bytes;
        int socket = -1; // -1: the socket that received the datagram being answered
    };
    using Step = QList<Reply>;
    // Answers a datagram that the script has no step for.
    using Fallback = std::function<Step(const Received &)>;

    // Listens on 127.0.0.1 on a port the system chooses.
    ScriptedDevice()
    {
        addSocket(QHostAddress::LocalHost); // index 0; on failure errorString says why
    }

    [[nodiscard]] bool isReady() const { return m_error.isEmpty(); }
    [[nodiscard]] QString errorString() const { return m_error; }
    // The port of the listening socket: where the client sends its write request.
    [[nodiscard]] quint16 port() const { return portOf(0); }
    [[nodiscard]] quint16 portOf(int socket) const
    {
        return m_sockets.at(size_t(socket))->localPort();
    }

    // Another socket, for replies from another port (port 0: the system chooses) or another
    // loopback address. Returns its index, or -1 when it cannot be bound (see errorString).
    int addSocket(const QHostAddress &address, quint16 port = 0)
    {
        auto socket = std::make_unique<QUdpSocket>();
        if (!socket->bind(address, port)) {
            m_error = QStringLiteral("could not bind %1:%2: %3")
                          .arg(address.toString())
                          .arg(port)
                          .arg(socket->errorString());
            return -1;
        }
        const int index = int(m_sockets.size());
        QUdpSocket *raw = socket.get();
        QObject::connect(raw, &QUdpSocket::readyRead, raw, [this, index] { readFrom(index); });
        m_sockets.push_back(std::move(socket));
        return index;
    }

    void setScript(QList<Step> steps) { m_script = std::move(steps); }
    void setFallback(Fallback fallback) { m_fallback = std::move(fallback); }
    void setAcknowledgeRest(bool acknowledge)
    {
        m_fallback = acknowledge ? Fallback(&acknowledgement) : Fallback();
    }
    // ACK 0 for a write request, ACK n for DATA block n, nothing for anything else.
    static Step acknowledgement(const Received &got)
    {
        if (got.opcode() == 2)
            return {ack(0)};
        if (got.opcode() == 3)
            return {ack(got.block())};
        return {};
    }
    // The file name of a write request.
    static QString requestedName(const Received &got)
    {
        return got.opcode() == 2 ? QString::fromLocal8Bit(got.bytes.mid(2).constData()) : QString();
    }

    [[nodiscard]] const QList<Received> &received() const { return m_received; }
    // The file names of the write requests received, in order.
    [[nodiscard]] QStringList requestedNames() const
    {
        QStringList names;
        for (const Received &got : m_received) {
            if (got.opcode() == 2)
                names.append(requestedName(got));
        }
        return names;
    }
    // The payloads of the DATA packets received, in order.
    [[nodiscard]] QByteArray receivedData() const
    {
        QByteArray data;
        for (const Received &datagram : m_received) {
            if (datagram.opcode() == 3)
                data += datagram.payload();
        }
        return data;
    }

    static QByteArray packet(quint16 opcode, quint16 number)
    {
        const char bytes[] = {char(opcode >> 8), char(opcode), char(number >> 8), char(number)};
        return QByteArray(bytes, 4);
    }
    static Reply ack(quint16 block, int socket = -1) { return {packet(4, block), socket}; }
    static Reply oack() { return {QByteArrayLiteral("\0\6tsize\0\x30\0")}; }
    static Reply error(quint16 code, const QByteArray &message)
    {
        return {packet(5, code) + message + '\0'};
    }
    static Reply raw(const QByteArray &bytes) { return {bytes}; }

private:
    void readFrom(int index)
    {
        QUdpSocket &socket = *m_sockets.at(size_t(index));
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            if (!datagram.isValid())
                return;
            const Received got {index, datagram.senderAddress(), quint16(datagram.senderPort()),
                                datagram.data()};
            m_received.append(got);
            answer(got);
        }
    }

    void answer(const Received &got)
    {
        const qsizetype step = m_received.size() - 1;
        const Step replies = step < m_script.size() ? m_script.at(step)
            : m_fallback                            ? m_fallback(got)
                                                    : Step();
        for (const Reply &reply : replies) {
            const int from = reply.socket < 0 ? got.socket : reply.socket;
            m_sockets.at(size_t(from))
                ->writeDatagram(reply.bytes, got.senderAddress, got.senderPort);
        }
    }

    std::vector<std::unique_ptr<QUdpSocket>> m_sockets;
    QList<Step> m_script;
    Fallback m_fallback;
    QList<Received> m_received;
    QString m_error;
};
