#pragma once

// Stand-in devices on loopback and small helpers shared by the test programs.

#include "qtftp.h"
#include "scripteddevice.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

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
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
// Every test program, and what it starts, keeps its settings in a folder of its own, made before
// main runs: the user's own settings are never touched. Windows are drawn off screen by default.
struct OwnEnvironment
{
    QTemporaryDir config;
    OwnEnvironment()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        // The window's run records too: never in the user's own data folder.
        qputenv("XDG_DATA_HOME", QFile::encodeName(config.path() + u"/data"_s));
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
};
inline const OwnEnvironment ownEnvironment;
// Gives the file at path other bytes of the same size and modification time, as a copy tool
// that keeps times can; the file's time and size no longer tell the change.
inline bool replaceUnseen(const QString &path)
{
    QFile file(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    const qint64 size = file.size();
    return file.open(QIODevice::ReadWrite) && file.write(QByteArray(size, '!')) == size
        && file.setFileTime(modified, QFileDevice::FileModificationTime);
}
// Whether the settings live in that folder: anything outside it may be the user's.
inline bool settingsAreOwn()
{
    return QSettings().fileName().startsWith(ownEnvironment.config.path() + u'/');
}

// tftpd-hpa on a loopback address, storing what it receives in a folder of its own. Ready once
// built, when errorString is empty: it has answered a read request for a missing file.
class Tftpd
{
public:
    explicit Tftpd(bool refuseTsize = false, const QString &address = u"127.0.0.1"_s,
                   quint16 port = 0)
    {
        QUdpSocket client;
        client.bind(QHostAddress(address), 0);
        m_port = port ? port : client.localPort(); // free once the client takes another
        client.close();
        client.bind(QHostAddress(address), 0);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(
            u"/usr/sbin/in.tftpd"_s,
            QStringList {u"--foreground"_s, u"--listen"_s, u"--address"_s,
                         u"%1:%2"_s.arg(address).arg(m_port), u"--create"_s, u"--secure"_s,
                         u"--user"_s, u"root"_s, m_folder.path()}
                + (refuseTsize ? QStringList {u"--refuse"_s, u"tsize"_s} : QStringList()));
        for (QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
            client.writeDatagram("\0\1-\0octet\0"_ba, QHostAddress(address), m_port);
            if (client.waitForReadyRead(100))
                return;
        }
        errorString = u"in.tftpd (tftpd-hpa) did not answer on %1:%2: %3"_s.arg(
            address, QString::number(m_port), QString::fromLocal8Bit(m_process.readAll()));
    }
    ~Tftpd() { m_process.kill(), m_process.waitForFinished(); }

    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] QByteArray file(const QString &name) const
    {
        QFile file(m_folder.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : "(no such file)"_ba;
    }

    QString errorString;

private:
    QTemporaryDir m_folder;
    quint16 m_port;
    QProcess m_process;
};

} // namespace TestSupport
