#pragma once

// Stand-in devices on loopback and small helpers shared by the test programs.

#include "qtftp.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <functional>

namespace TestSupport {
using namespace Qt::StringLiterals;

inline QByteArray packet(int opcode, int number)
{
    const char bytes[] = {char(opcode >> 8), char(opcode), char(number >> 8), char(number)};
    return QByteArray(bytes, 4);
}
inline QByteArray errorPacket(int code, const QByteArray &text)
{
    return packet(5, code) + text + '\0';
}
inline QByteArray randomBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7919) >> 3 ^ i);
    return bytes;
}
// Each DATA packet counts with its 4-byte header; the last block is shorter than 512 bytes.
inline int expectedProgress(qint64 size)
{
    return int(size + 4 * (size / 512 + 1));
}
inline void pointAt(QTftp &tftp, quint16 port)
{
    tftp.setLocalAddress(u"127.0.0.1"_s);
    tftp.setRemoteAddress(u"127.0.0.1"_s);
    tftp.setRemotePort(port);
}
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
// CTest points each test at a configuration folder of its own; anything else may be the user's.
inline bool settingsAreOwn()
{
    return QSettings().fileName().startsWith(QStringLiteral(TSTX_TEST_CONFIG) + u'/');
}

// A device on 127.0.0.1 that answers the n-th datagram it receives with reply(n, datagram) and
// keeps every datagram. It answers while the test's thread runs its event loop.
class ScriptedDevice
{
public:
    using Reply = std::function<QByteArrayList(int n, const QByteArray &datagram)>;
    explicit ScriptedDevice(Reply reply)
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this, reply] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram got = m_socket.receiveDatagram();
                received.append(got.data());
                for (const QByteArray &answer : reply(int(received.size()) - 1, got.data()))
                    m_socket.writeDatagram(answer, got.senderAddress(), quint16(got.senderPort()));
            }
        });
    }
    // ACK 0 to a write request, ACK n to DATA n.
    static QByteArrayList acknowledge(int, const QByteArray &got)
    {
        return {packet(4, got[1] == 3 ? quint8(got[2]) << 8 | quint8(got[3]) : 0)};
    }
    [[nodiscard]] quint16 port() const { return m_socket.localPort(); }
    // The file names of the write requests, in the order they came.
    [[nodiscard]] QStringList requests() const
    {
        QStringList names;
        for (const QByteArray &got : received) {
            if (got.startsWith("\0\2"_ba))
                names.append(QString::fromLocal8Bit(got.constData() + 2));
        }
        return names;
    }

    QByteArrayList received;

private:
    QUdpSocket m_socket;
};

// tftpd-hpa on a loopback address, storing what it receives in a folder of its own.
class Tftpd
{
public:
    explicit Tftpd(bool refuseTsize = false, const QString &address = u"127.0.0.1"_s,
                   quint16 port = 0)
    {
        if (port == 0) {
            QUdpSocket probe;
            probe.bind(QHostAddress(address), 0);
            port = probe.localPort();
        }
        m_address = address;
        m_port = port;
        m_arguments = QStringList {u"--foreground"_s, u"--listen"_s,
                                   u"--address"_s,    u"%1:%2"_s.arg(address).arg(port),
                                   u"--create"_s,     u"--secure"_s,
                                   u"--user"_s,       u"root"_s}
            + (refuseTsize ? QStringList {u"--refuse"_s, u"tsize"_s} : QStringList())
            + QStringList {m_folder.path()};
    }
    ~Tftpd() { m_process.kill(), m_process.waitForFinished(); }

    // Starts it and waits until it answers: a read request for a missing file gets an ERROR.
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(u"/usr/sbin/in.tftpd"_s, m_arguments);
        QUdpSocket client;
        client.bind(QHostAddress(m_address), 0);
        for (QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
            client.writeDatagram("\0\1-\0octet\0"_ba, QHostAddress(m_address), m_port);
            if (client.waitForReadyRead(100))
                return true;
        }
        errorString = u"in.tftpd (tftpd-hpa) did not answer on %1:%2: %3"_s.arg(
            m_address, QString::number(m_port), QString::fromLocal8Bit(m_process.readAll()));
        return false;
    }
    [[nodiscard]] quint16 port() const { return m_port; }
    // The bytes it stored under name.
    [[nodiscard]] QByteArray file(const QString &name) const
    {
        QFile file(m_folder.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : "(no such file)"_ba;
    }
    [[nodiscard]] QStringList files() const
    {
        return QDir(m_folder.path()).entryList(QDir::Files, QDir::Name);
    }

    QString errorString;

private:
    QTemporaryDir m_folder;
    QString m_address;
    quint16 m_port;
    QStringList m_arguments;
    QProcess m_process;
};

} // namespace TestSupport
