#pragma once

// A real TFTP server for tests: tftpd-hpa on 127.0.0.1, on a free port, writing into a
// temporary folder of its own.
//
//     TftpdServer server; // or TftpdServer server(TftpdServer::Mode::RefuseTsize);
//     QVERIFY2(server.start(), qPrintable(server.errorString()));
//     tftp.setRemoteAddress(u"127.0.0.1"_s);
//     tftp.setRemotePort(server.port());
//     ... upload ...
//     QVERIFY2(server.waitForFile(u"name.bin"_s, expectedSize), ...);
//     QCOMPARE(server.receivedFile(u"name.bin"_s), sentBytes);
//
// The server is stopped when the object goes (or by stop()). tftpd-hpa does not overwrite a file
// it created before, so each upload within one server's life needs a name of its own (or call
// removeReceivedFiles() in between).

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
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
        stop();
        const QString program = findProgram();
        if (program.isEmpty()) {
            m_error = QStringLiteral("in.tftpd not found: install tftpd-hpa (scripts/setup)");
            return false;
        }
        if (!m_folder.isValid()) {
            m_error = QStringLiteral("no temporary folder: ") + m_folder.errorString();
            return false;
        }
        // The free port is chosen before the server binds it; another program could take it in
        // between, so a few attempts are made.
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_port = freePort();
            if (m_port == 0) {
                m_error = QStringLiteral("no free UDP port on 127.0.0.1");
                return false;
            }
            QStringList arguments {
                QStringLiteral("--foreground"), QStringLiteral("--listen"),
                QStringLiteral("--address"),    QStringLiteral("127.0.0.1:%1").arg(m_port),
                QStringLiteral("--create"),     QStringLiteral("--secure"),
                QStringLiteral("--user"),       QStringLiteral("root")};
            if (m_mode == Mode::RefuseTsize)
                arguments << QStringLiteral("--refuse") << QStringLiteral("tsize");
            arguments << m_folder.path();
            m_process.setProgram(program);
            m_process.setArguments(arguments);
            m_process.setProcessChannelMode(QProcess::MergedChannels);
            m_process.start();
            if (!m_process.waitForStarted(5000)) {
                m_error = QStringLiteral("in.tftpd did not start: ") + m_process.errorString();
                return false;
            }
            if (waitUntilServing(5000))
                return true;
            const QByteArray output = m_process.readAll();
            stop();
            m_error = QStringLiteral("in.tftpd did not answer on port %1: %2")
                          .arg(m_port)
                          .arg(QString::fromLocal8Bit(output));
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

    [[nodiscard]] bool isRunning() const { return m_process.state() == QProcess::Running; }
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
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QFileInfo info(path);
            if (info.exists() && info.size() == size)
                return true;
            if (deadline.hasExpired())
                return false;
            QTest::qWait(20);
        }
    }

    // The names of the files the server has stored, sorted.
    [[nodiscard]] QStringList receivedFileNames() const
    {
        return QDir(m_folder.path()).entryList(QDir::Files, QDir::Name);
    }

    void removeReceivedFiles() const
    {
        QDir folder(m_folder.path());
        for (const QString &name : folder.entryList(QDir::Files))
            folder.remove(name);
    }

private:
    static QString findProgram()
    {
        const QString inPath = QStandardPaths::findExecutable(QStringLiteral("in.tftpd"));
        if (!inPath.isEmpty())
            return inPath;
        return QStandardPaths::findExecutable(
            QStringLiteral("in.tftpd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    }

    static quint16 freePort()
    {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress::LocalHost, 0))
            return 0;
        return probe.localPort();
    }

    // Asks for a file that does not exist until the server answers (with an ERROR).
    bool waitUntilServing(int timeoutMs)
    {
        QUdpSocket client;
        if (!client.bind(QHostAddress::LocalHost, 0))
            return false;
        QByteArray readRequest("\0\1no-such-file\0octet\0", 21);
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            client.writeDatagram(readRequest, QHostAddress::LocalHost, m_port);
            if (client.waitForReadyRead(100)) {
                while (client.hasPendingDatagrams())
                    client.receiveDatagram();
                return true;
            }
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
