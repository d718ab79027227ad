#pragma once

// A real TFTP server for tests: tftpd-hpa on 127.0.0.1, on a free port, writing into a
// temporary folder of its own; stopped when the object goes. It does not overwrite a file it
// created before, so each upload within one server's life needs a name of its own.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

class TftpdServer
{
public:
    enum class Mode {
        Normal, // answers a write request with an OACK (it takes the "tsize" option)
        RefuseTsize, // started with --refuse tsize: answers a write request with ACK 0
    };

    explicit TftpdServer(Mode mode = Mode::Normal)
        : m_mode(mode)
    { }
    ~TftpdServer() { stop(); }
    TftpdServer(const TftpdServer &) = delete;
    TftpdServer &operator=(const TftpdServer &) = delete;

    // Starts in.tftpd and returns once it answers requests; false (see errorString) otherwise.
    bool start()
    {
        using namespace Qt::StringLiterals;
        stop();
        QString program = QStandardPaths::findExecutable(u"in.tftpd"_s);
        if (program.isEmpty())
            program = QStandardPaths::findExecutable(u"in.tftpd"_s, {u"/usr/sbin"_s, u"/sbin"_s});
        if (program.isEmpty()) {
            m_error = u"in.tftpd not found: install tftpd-hpa (scripts/setup)"_s;
            return false;
        }
        if (!m_folder.isValid()) {
            m_error = u"no temporary folder: "_s + m_folder.errorString();
            return false;
        }
        // Another program could take the free port before the server binds it: a few attempts.
        for (int attempt = 0; attempt < 3; ++attempt) {
            QUdpSocket probe;
            if (!probe.bind(QHostAddress::LocalHost, 0)) {
                m_error = u"no free UDP port on 127.0.0.1"_s;
                return false;
            }
            m_port = probe.localPort();
            probe.close();
            QStringList arguments {
                u"--foreground"_s, u"--listen"_s, u"--address"_s, u"127.0.0.1:%1"_s.arg(m_port),
                u"--create"_s,     u"--secure"_s, u"--user"_s,    u"root"_s};
            if (m_mode == Mode::RefuseTsize)
                arguments << u"--refuse"_s << u"tsize"_s;
            m_process.setProcessChannelMode(QProcess::MergedChannels);
            m_process.start(program, arguments << m_folder.path());
            if (!m_process.waitForStarted(5000)) {
                m_error = u"in.tftpd did not start: "_s + m_process.errorString();
                return false;
            }
            if (waitUntilServing(5000))
                return true;
            const QByteArray output = m_process.readAll();
            stop();
            m_error = u"in.tftpd did not answer on port %1: %2"_s.arg(m_port).arg(
                QString::fromLocal8Bit(output));
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] QString directory() const { return m_folder.path(); }
    [[nodiscard]] QString errorString() const { return m_error; }

    // The bytes the server stored under name; empty when there is no such file.
    [[nodiscard]] QByteArray receivedFile(const QString &name) const
    {
        QFile file(QDir(m_folder.path()).filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // True once the server has stored name with size bytes (it may close the file a moment
    // after its last acknowledgement).
    [[nodiscard]] bool waitForFile(const QString &name, qint64 size, int timeoutMs = 5000) const
    {
        const QString path = QDir(m_folder.path()).filePath(name);
        return QTest::qWaitFor(
            [&] {
                const QFileInfo info(path);
                return info.exists() && info.size() == size;
            },
            timeoutMs);
    }

    // The names of the files the server has stored, sorted.
    [[nodiscard]] QStringList receivedFileNames() const
    {
        return QDir(m_folder.path()).entryList(QDir::Files, QDir::Name);
    }

private:
    // Asks for a file that does not exist until the server answers (with an ERROR).
    bool waitUntilServing(int timeoutMs)
    {
        QUdpSocket client;
        if (!client.bind(QHostAddress::LocalHost, 0))
            return false;
        const QByteArray readRequest("\0\1no-such-file\0octet\0", 21);
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            client.writeDatagram(readRequest, QHostAddress::LocalHost, m_port);
            if (client.waitForReadyRead(100))
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    Mode m_mode;
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
