#include "scripteddevice.h"

#include <QNetworkDatagram>
#include <QTimer>

#include <chrono>
#include <thread>

ScriptedDevice::ScriptedDevice(Reply reply, const QString &address, quint16 port)
    : m_reply(std::move(reply))
{
    // A port another socket holds is refused, not shared.
    m_socket.bind(QHostAddress(address), port, QAbstractSocket::DontShareAddress);
    QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] { take(); });
}

QByteArrayList ScriptedDevice::acknowledge(int, const QByteArray &datagram)
{
    const bool data = datagram.size() >= 4 && datagram.startsWith(QByteArrayView("\0\3", 2));
    return {QByteArray("\0\4", 2) + (data ? datagram.mid(2, 2) : QByteArray(2, '\0'))};
}

QStringList ScriptedDevice::requests() const
{
    QStringList names;
    for (const QByteArray &got : received)
        if (got.startsWith(QByteArrayView("\0\2", 2)))
            names.append(QString::fromLocal8Bit(got.constData() + 2));
    return names;
}

void ScriptedDevice::take()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram got = m_socket.receiveDatagram();
        peerPort = quint16(got.senderPort());
        if (recording)
            received.append(got.data());
        for (const QByteArray &answer : m_reply(m_count++, got.data())) {
            const auto send = [this, answer, got] {
                m_socket.writeDatagram(answer, got.senderAddress(), quint16(got.senderPort()));
            };
            if (delayMs >= 1) {
                QTimer::singleShot(qRound(delayMs), &m_socket, send);
            } else {
                std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(delayMs));
                send();
            }
        }
    }
}
