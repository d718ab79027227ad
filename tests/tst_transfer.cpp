// One file's TFTP upload: against tftpd-hpa for what a real server does, and against a scripted
// device for every other reply, failure and status text.
#include "datagramchannel.h"
#include "qtftp.h"
#include "support/scripteddevice.h"
#include "support/tftpdserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QHostInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <thread>

#if defined(Q_OS_UNIX)
#    include <csignal>
#    include <pthread.h>
#endif

using namespace Qt::StringLiterals;

namespace {
constexpr qint64 largestFile = qint64(65535) * 512 - 1; // 65535 blocks
constexpr int shortWaitMs = 300;

QByteArray randomBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    auto *words = reinterpret_cast<quint32 *>(bytes.data());
    QRandomGenerator generator(quint32(size) * 2654435761u + 1);
    generator.fillRange(words, size_t(size / 4));
    for (qint64 i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}

// What one upload reported.
struct Upload
{
    bool result = false;
    QString status;
    QList<int> sizes; // values carried by fileSizeChanged
    QList<int> progress; // values carried by fileProgressChanged
    QStringList statuses; // values carried by errorStringChanged
    qint64 elapsedMs = 0;
};

// Runs uploadFile on a pool thread, as a run does, and waits in this thread's event loop (so a
// scripted device can answer) until the watcher reports its end.
bool runUpload(QTftp &tftp, const QString &name, const QByteArray &data, Upload &upload,
               QString &why, int waitMs = 120000)
{
    QSignalSpy sizes(&tftp, &QTftp::fileSizeChanged);
    QSignalSpy progress(&tftp, &QTftp::fileProgressChanged);
    QSignalSpy statuses(&tftp, &QTftp::errorStringChanged);
    QFutureWatcher<bool> watcher;
    QSignalSpy finished(&watcher, &QFutureWatcher<bool>::finished);
    QElapsedTimer clock;
    clock.start();
    watcher.setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(), &QTftp::uploadFile, &tftp, name, data));
    if (!finished.wait(waitMs)) {
        why = u"the upload of %1 did not end within %2 ms"_s.arg(name).arg(waitMs);
        watcher.waitForFinished();
        return false;
    }
    upload.elapsedMs = clock.elapsed();
    upload.result = watcher.result();
    upload.status = tftp.errorString();
    for (const QList<QVariant> &signal : std::as_const(sizes))
        upload.sizes.append(signal.at(0).toInt());
    for (const QList<QVariant> &signal : std::as_const(progress))
        upload.progress.append(signal.at(0).toInt());
    for (const QList<QVariant> &signal : std::as_const(statuses))
        upload.statuses.append(signal.at(0).toString());
    return true;
}

int expectedProgress(qint64 size)
{
    return int(size + 4 * (size / 512 + 1));
}

// The progress reports start at 0, only grow, and end at the sum of all DATA packets. (Reports
// within a few milliseconds of each other may reach the window as one.)
bool progressRunsTo(const QList<int> &progress, int last, QString &why)
{
    why = u"progress reports: %1 values, first %2, last %3, expected last %4"_s.arg(
        QString::number(progress.size()), QString::number(progress.value(0, -1)),
        QString::number(progress.value(progress.size() - 1, -1)), QString::number(last));
    if (progress.isEmpty() || progress.constFirst() != 0 || progress.constLast() != last)
        return false;
    return std::is_sorted(progress.cbegin(), progress.cend());
}

// The text a plain QUdpSocket gives when a wait for a datagram times out.
QString socketTimeoutText()
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0))
        return socket.errorString();
    socket.waitForReadyRead(10);
    return socket.errorString();
}
} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

private:
    // A QTftp pointed at 127.0.0.1:port, bound to 127.0.0.1.
    static void pointAt(QTftp &tftp, quint16 port)
    {
        tftp.setLocalAddress(u"127.0.0.1"_s);
        tftp.setRemoteAddress(u"127.0.0.1"_s);
        tftp.setRemotePort(port);
    }

public:
    // Runs before the application object exists.
    static void initMain() { QStandardPaths::setTestModeEnabled(true); }

private slots:
    void initTestCase()
    {
        // The object reads nothing from the settings here, but if it did it must not be the
        // user's own.
        const QString settingsFile = QSettings().fileName();
        QVERIFY2(settingsFile.contains(u"qttest"_s), qPrintable(settingsFile));
    }

    void cleanup() { QTftp::errorTolerantFiles.clear(); }

    // Real server ---------------------------------------------------------------------------

    void realServerDeliversFile_data()
    {
        QTest::addColumn<TftpdServer::Mode>("mode");
        QTest::addColumn<qint64>("size");
        const QList<qint64> sizes {0, 1, 511, 512, 513, 1000, 3 * 1024 * 1024 + 77, largestFile};
        for (const auto &[mode, label] : {std::pair {TftpdServer::Mode::Normal, "oack"},
                                          std::pair {TftpdServer::Mode::RefuseTsize, "ack0"}}) {
            for (qint64 size : sizes)
                QTest::addRow("%s, %lld bytes", label, size) << mode << size;
        }
    }

    void realServerDeliversFile()
    {
        QFETCH(TftpdServer::Mode, mode);
        QFETCH(qint64, size);
        TftpdServer server(mode);
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        QTftp tftp;
        pointAt(tftp, server.port());
        const QByteArray data = randomBytes(size);
        const QString name = u"image-%1.bin"_s.arg(size);

        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, name, data, upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        QVERIFY2(server.waitForFile(name, size), qPrintable(server.receivedFileNames().join(u',')));
        QVERIFY(server.receivedFile(name) == data); // not QCOMPARE: it would print megabytes
        QCOMPARE(tftp.fileSize(), int(size));
        QCOMPARE(upload.sizes, QList<int> {int(size)});
        QCOMPARE(tftp.fileProgress(), expectedProgress(size));
        QVERIFY2(progressRunsTo(upload.progress, expectedProgress(size), why), qPrintable(why));
        QCOMPARE(upload.statuses, (QStringList {u"Sending file %1"_s.arg(name), u"No Error"_s}));
        QVERIFY(tftp.localPort() != 0);
    }

    // Scripted device: replies ----------------------------------------------------------------

    void firstReply_data()
    {
        QTest::addColumn<ScriptedDevice::Reply>("first");
        QTest::addRow("ACK 0") << ScriptedDevice::ack(0);
        QTest::addRow("OACK") << ScriptedDevice::oack();
    }

    void firstReply()
    {
        QFETCH(ScriptedDevice::Reply, first);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript({{first}, {ScriptedDevice::ack(1)}, {ScriptedDevice::ack(2)}});
        QTftp tftp;
        pointAt(tftp, device.port());
        const QByteArray data = randomBytes(1000);

        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"a.bin"_s, data, upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        const QList<ScriptedDevice::Received> &got = device.received();
        QCOMPARE(got.size(), 3);
        QCOMPARE(got.at(0).bytes, QTftp::buildWriteRequest(u"a.bin"_s, data));
        QCOMPARE(got.at(0).bytes,
                 QByteArray("\0\2a.bin\0octet\0tsize\0"
                            "1000\0",
                            25));
        QCOMPARE(got.at(1).opcode(), 3);
        QCOMPARE(got.at(1).block(), 1);
        QCOMPARE(got.at(1).bytes.size(), 516);
        QCOMPARE(got.at(2).block(), 2);
        QCOMPARE(got.at(2).bytes.size(), 492);
        QCOMPARE(device.receivedData(), data);
        QVERIFY2(progressRunsTo(upload.progress, 1008, why), qPrintable(why));
        QCOMPARE(tftp.fileProgress(), 1008);
        // The client's port stays the same for the whole transfer.
        QCOMPARE(got.at(1).senderPort, got.at(0).senderPort);
        QCOMPARE(got.at(0).senderPort, tftp.localPort());
    }

    void oackAfterFinalBlockCompletes()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript({{ScriptedDevice::oack()}, {ScriptedDevice::oack()}});
        QTftp tftp;
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"done"_s, {}, upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        QCOMPARE(device.received().size(), 2);
        QCOMPARE(device.received().at(0).bytes,
                 QByteArray::fromHex("0002646f6e65006f63746574007473697a65003000"));
        QCOMPARE(device.received().at(1).bytes, QByteArray::fromHex("00030001"));
        QCOMPARE(tftp.fileSize(), 0);
        QCOMPARE(tftp.fileProgress(), 4);
    }

    void repliesFromNewPortAreFollowed()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        const int transferSocket = device.addSocket(QHostAddress::LocalHost);
        QVERIFY2(transferSocket > 0, qPrintable(device.errorString()));
        device.setScript({{ScriptedDevice::ack(0, transferSocket)}});
        device.setAcknowledgeRest(true);
        QTftp tftp;
        pointAt(tftp, device.port());
        const QByteArray data = randomBytes(2000);

        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"b.bin"_s, data, upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        const QList<ScriptedDevice::Received> &got = device.received();
        QCOMPARE(got.size(), 5); // the write request, then DATA 1 to 4
        QCOMPARE(got.at(0).socket, 0);
        for (qsizetype i = 1; i < got.size(); ++i)
            QCOMPARE(got.at(i).socket, transferSocket);
        QCOMPARE(device.receivedData(), data);
    }

    void replyFromAnotherLoopbackAddressIsTaken()
    {
        // The reply comes from 127.0.0.2:P; its address is not kept, so the DATA go to the
        // looked-up address at the new port: 127.0.0.1:P.
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        const int otherHost = device.addSocket(QHostAddress(u"127.0.0.2"_s));
        QVERIFY2(otherHost > 0, qPrintable(device.errorString()));
        const int samePortHere
            = device.addSocket(QHostAddress::LocalHost, device.portOf(otherHost));
        QVERIFY2(samePortHere > 0, qPrintable(device.errorString()));
        device.setScript({{ScriptedDevice::ack(0, otherHost)}});
        device.setAcknowledgeRest(true);
        QTftp tftp;
        pointAt(tftp, device.port());
        const QByteArray data = randomBytes(600);

        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"c.bin"_s, data, upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        const QList<ScriptedDevice::Received> &got = device.received();
        QCOMPARE(got.size(), 3);
        QCOMPARE(got.at(1).socket, samePortHere);
        QCOMPARE(got.at(2).socket, samePortHere);
        QCOMPARE(device.receivedData(), data);
    }

    void localAddressChoices_data()
    {
        QTest::addColumn<QString>("localAddress");
        QTest::addRow("loopback") << u"127.0.0.1"_s;
        QTest::addRow("any IPv4") << u"0.0.0.0"_s;
        QTest::addRow("none chosen (dual stack)") << QString();
    }

    void localAddressChoices()
    {
        QFETCH(QString, localAddress);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setAcknowledgeRest(true);
        QTftp tftp;
        pointAt(tftp, device.port());
        tftp.setLocalAddress(localAddress);
        const QByteArray data = randomBytes(1500);
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"n.bin"_s, data, upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        QCOMPARE(device.receivedData(), data);
        QCOMPARE(device.received().constFirst().senderPort, tftp.localPort());
    }

#if defined(Q_OS_UNIX)
    void channelWaitSurvivesSignals()
    {
        // A signal that lands in the wait must neither end it early nor lose a datagram.
        struct sigaction action
        {
        };
        action.sa_handler = [](int) {
        };
        sigemptyset(&action.sa_mask);
        struct sigaction previous
        {
        };
        QCOMPARE(sigaction(SIGUSR1, &action, &previous), 0);
        QUdpSocket socket;
        QVERIFY2(socket.bind(QHostAddress::LocalHost, 0), qPrintable(socket.errorString()));
        QUdpSocket sender;
        QVERIFY2(sender.bind(QHostAddress::LocalHost, 0), qPrintable(sender.errorString()));
        for (const bool datagramComes : {false, true}) {
            std::atomic<bool> waiting = false;
            bool received = true;
            qint64 elapsedMs = 0;
            std::thread waiter([&] {
                DatagramChannel channel(socket);
                QElapsedTimer clock;
                clock.start();
                waiting = true;
                received = channel.waitForDatagram(800);
                elapsedMs = clock.elapsed();
            });
            QTRY_VERIFY(waiting);
            QTest::qWait(100);
            pthread_kill(waiter.native_handle(), SIGUSR1);
            QTest::qWait(100);
            if (datagramComes)
                sender.writeDatagram("x", QHostAddress::LocalHost, socket.localPort());
            waiter.join();
            QCOMPARE(received, datagramComes);
            if (!datagramComes) {
                QVERIFY2(elapsedMs >= 800, qPrintable(QString::number(elapsedMs)));
                QCOMPARE(socket.error(), QAbstractSocket::SocketTimeoutError);
            }
        }
        sigaction(SIGUSR1, &previous, nullptr);
    }
#endif

    // Scripted device: failures ---------------------------------------------------------------

    void duplicateAckEndsTransfer()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript(
            {{ScriptedDevice::ack(0)}, {ScriptedDevice::ack(1), ScriptedDevice::ack(1)}});
        QTftp tftp;
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"d.bin"_s, randomBytes(1000), upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"Error on incoming packet number 1 vs expected 2"_s);
        QVERIFY(!upload.result);
        QCOMPARE(device.received().size(), 3); // DATA 2 went out before the duplicate was read
        QCOMPARE(device.received().at(2).block(), 2);
    }

    void errorReply_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("toWriteRequest");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("result");
        const QString protocolError = u"Protocol Error: 2 abc"_s;
        QTest::addRow("unlisted, to DATA")
            << u"7380KD-v1.bin"_s << false << false << protocolError << false;
        QTest::addRow("unlisted, to write request")
            << u"7380KD-v1.bin"_s << false << true << protocolError << false;
        QTest::addRow("listed, to DATA")
            << u"7380-X-v1.bin"_s << true << false << u"No Error"_s << true;
        QTest::addRow("listed, to write request")
            << u"7380-X-v1.bin"_s << true << true << u"No Error"_s << true;
        QTest::addRow("listed, other letter case")
            << u"7380-X-V1.BIN"_s << true << true << u"No Error"_s << true;
    }

    void errorReply()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, listed);
        QFETCH(bool, toWriteRequest);
        QFETCH(QString, status);
        QFETCH(bool, result);
        if (listed)
            QTftp::errorTolerantFiles.append(u"7380-x-v1.bin"_s);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        const ScriptedDevice::Reply error = ScriptedDevice::error(2, "abc");
        if (toWriteRequest)
            device.setScript({{error}});
        else
            device.setScript({{ScriptedDevice::ack(0)}, {error}});
        QTftp tftp;
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, fileName, randomBytes(1000), upload, why), qPrintable(why));
        QCOMPARE(upload.status, status);
        QCOMPARE(upload.result, result);
        QCOMPARE(device.received().size(), toWriteRequest ? 1 : 2);
    }

    void errorMessageWithoutTerminator()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript({{ScriptedDevice::raw(QByteArray("\0\5\0\1disk full", 13))}});
        QTftp tftp;
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"e.bin"_s, "x", upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"Protocol Error: 1 disk full"_s);
        QVERIFY(!upload.result);
    }

    void rejectedOpcode_data()
    {
        QTest::addColumn<quint16>("opcode");
        QTest::addColumn<QString>("status");
        for (quint16 opcode : {1, 2, 3})
            QTest::addRow("%d", opcode)
                << opcode << u"Unexpected Packet Received: %1"_s.arg(opcode);
        for (quint16 opcode : {0, 7, 9, 65535})
            QTest::addRow("%d", opcode) << opcode << u"Unknown Op Code: %1"_s.arg(opcode);
    }

    void rejectedOpcode()
    {
        QFETCH(quint16, opcode);
        QFETCH(QString, status);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript({{ScriptedDevice::raw(ScriptedDevice::packet(opcode, 1))}});
        QTftp tftp;
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"f.bin"_s, "abc", upload, why), qPrintable(why));
        QCOMPARE(upload.status, status);
        QVERIFY(!upload.result);
        QCOMPARE(device.received().size(), 1);
    }

    void malformedDatagram_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("afterFirstBlock");
        for (bool afterFirstBlock : {false, true}) {
            const char *when = afterFirstBlock ? "to DATA" : "to write request";
            QTest::addRow("0 bytes, %s", when) << QByteArray() << afterFirstBlock;
            QTest::addRow("1 byte, %s", when) << QByteArray(1, '\0') << afterFirstBlock;
            QTest::addRow("2 bytes ACK, %s", when) << QByteArray("\0\4", 2) << afterFirstBlock;
            QTest::addRow("3 bytes ACK, %s", when) << QByteArray("\0\4\0", 3) << afterFirstBlock;
            QTest::addRow("2 bytes ERROR, %s", when) << QByteArray("\0\5", 2) << afterFirstBlock;
            QTest::addRow("3 bytes ERROR, %s", when) << QByteArray("\0\5\0", 3) << afterFirstBlock;
        }
    }

    void malformedDatagram()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, afterFirstBlock);
        // A short ERROR is refused even for a listed name: it carries no error code.
        QTftp::errorTolerantFiles.append(u"g.bin"_s);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        if (afterFirstBlock)
            device.setScript({{ScriptedDevice::ack(0)}, {ScriptedDevice::raw(datagram)}});
        else
            device.setScript({{ScriptedDevice::raw(datagram)}});
        QTftp tftp;
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"g.bin"_s, randomBytes(700), upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"Malformed packet received: %1 bytes"_s.arg(datagram.size()));
        QVERIFY(!upload.result);
    }

    void noReply_data()
    {
        QTest::addColumn<QList<ScriptedDevice::Step>>("script");
        QTest::addColumn<int>("received");
        QTest::addRow("to write request") << QList<ScriptedDevice::Step> {} << 1;
        QTest::addRow("to DATA 1") << QList<ScriptedDevice::Step> {{ScriptedDevice::ack(0)}} << 2;
        QTest::addRow("to DATA 3") << QList<ScriptedDevice::Step> {{ScriptedDevice::oack()},
                                                                   {ScriptedDevice::ack(1)},
                                                                   {ScriptedDevice::ack(2)}}
                                   << 4;
    }

    void noReply()
    {
        QFETCH(QList<ScriptedDevice::Step>, script);
        QFETCH(int, received);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript(script);
        QTftp tftp;
        tftp.setReplyTimeoutForTesting(shortWaitMs);
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"h.bin"_s, randomBytes(1500), upload, why), qPrintable(why));
        const QString timeoutText = socketTimeoutText();
        QCOMPARE(timeoutText, u"Network operation timed out"_s); // what Qt 6.4 says
        QCOMPARE(upload.status, u"No message received from host  "_s + timeoutText);
        QVERIFY(!upload.result);
        QCOMPARE(device.received().size(), received); // no resend
        QVERIFY2(upload.elapsedMs >= shortWaitMs, qPrintable(QString::number(upload.elapsedMs)));
    }

    void progressShownWhileTheDeviceIsQuiet()
    {
        // The bar must not lag behind while the upload waits for a reply that is slow to come.
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript(
            {{ScriptedDevice::oack()}, {ScriptedDevice::ack(1)}, {ScriptedDevice::ack(2)}});
        QTftp tftp;
        tftp.setReplyTimeoutForTesting(3000);
        pointAt(tftp, device.port());
        QFutureWatcher<bool> watcher;
        watcher.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), &QTftp::uploadFile,
                                            &tftp, u"q.bin"_s, randomBytes(1500)));
        QTRY_COMPARE_WITH_TIMEOUT(tftp.fileProgress(), 516 + 516 + 480, 1000);
        QVERIFY(watcher.isRunning()); // still waiting for ACK 3
        watcher.waitForFinished();
        QVERIFY(!watcher.result());
    }

    void noReplyWithinTheProductsWait()
    {
        // The one test that keeps the real wait of ten seconds.
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        QTftp tftp;
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"i.bin"_s, "x", upload, why, 30000), qPrintable(why));
        QCOMPARE(upload.status, u"No message received from host  "_s + socketTimeoutText());
        QVERIFY(!upload.result);
        QVERIFY2(upload.elapsedMs >= 10000 && upload.elapsedMs < 15000,
                 qPrintable(QString::number(upload.elapsedMs)));
        QCOMPARE(device.received().size(), 1);
    }

    void channelTimeoutTextIsTheSockets()
    {
        // The channel waits natively and leaves the failure to the socket: the text must be the
        // one a plain waitForReadyRead gives.
        QUdpSocket plain;
        QVERIFY2(plain.bind(QHostAddress::LocalHost, 0), qPrintable(plain.errorString()));
        QVERIFY(!plain.waitForReadyRead(shortWaitMs));
        QCOMPARE(plain.error(), QAbstractSocket::SocketTimeoutError);

        QUdpSocket socket;
        QVERIFY2(socket.bind(QHostAddress::LocalHost, 0), qPrintable(socket.errorString()));
        DatagramChannel channel(socket);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!channel.waitForDatagram(shortWaitMs));
        QVERIFY(clock.elapsed() >= shortWaitMs);
        QCOMPARE(socket.error(), QAbstractSocket::SocketTimeoutError);
        QCOMPARE(socket.errorString(), plain.errorString());
    }

    void channelReceivesWholeDatagramAndSenderPort()
    {
        QUdpSocket sender;
        QVERIFY2(sender.bind(QHostAddress::LocalHost, 0), qPrintable(sender.errorString()));
        QUdpSocket socket;
        QVERIFY2(socket.bind(QHostAddress::LocalHost, 0), qPrintable(socket.errorString()));
        DatagramChannel channel(socket);
        const QByteArray big = randomBytes(9000);
        QCOMPARE(sender.writeDatagram(big, QHostAddress::LocalHost, socket.localPort()), 9000);
        QVERIFY(channel.waitForDatagram(2000));
        QVERIFY(channel.receive());
        QCOMPARE(QByteArray(channel.datagram(), channel.datagramSize()), big);
        QCOMPARE(channel.senderPort(), sender.localPort());
        QVERIFY(channel.send("pong", QHostAddress::LocalHost, sender.localPort()));
        QVERIFY(sender.waitForReadyRead(2000));
        QCOMPARE(sender.receiveDatagram().data(), QByteArray("pong"));
    }

    // Before anything is sent -----------------------------------------------------------------

    void unresolvableHost()
    {
        // A name that IDNA refuses: the look-up fails before any query leaves the machine.
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        QTftp tftp;
        pointAt(tftp, device.port());
        const QString badName = u"bad..name"_s;
        // Refused by Qt itself, before the system resolver is asked.
        QCOMPARE(QHostInfo::fromName(badName).errorString(), u"Invalid hostname"_s);
        tftp.setRemoteAddress(badName);
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"j.bin"_s, "x", upload, why), qPrintable(why));
        QCOMPARE(upload.status, u"could not resolve host name %1"_s.arg(badName));
        QVERIFY(!upload.result);
        QCOMPARE(upload.statuses.constFirst(), u"Sending file j.bin"_s);
        QVERIFY(device.received().isEmpty());
    }

    void bindFailureGivesSocketText()
    {
        // Binding only: an address this machine does not have (nothing is sent).
        QTftp tftp;
        pointAt(tftp, 9);
        tftp.setLocalAddress(u"203.0.113.7"_s);
        QUdpSocket reference;
        QVERIFY(!reference.bind(QHostAddress(u"203.0.113.7"_s), 0));
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"k.bin"_s, "x", upload, why), qPrintable(why));
        QCOMPARE(upload.status, reference.errorString());
        QVERIFY(!upload.result);
        QCOMPARE(upload.statuses, QStringList {reference.errorString()});
    }

    void tooLargeDataIsRefusedBeforeTheWriteRequest()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setAcknowledgeRest(true);
        QTftp tftp;
        pointAt(tftp, device.port());
        Upload upload;
        QString why;
        const QByteArray data(largestFile + 1, 'z');
        QVERIFY2(runUpload(tftp, u"huge.bin"_s, data, upload, why), qPrintable(why));
        QVERIFY(!upload.result);
        QVERIFY2(upload.status.contains(u"huge.bin"_s), qPrintable(upload.status));
        QVERIFY2(upload.status.contains(QString::number(largestFile)), qPrintable(upload.status));
        QTest::qWait(50);
        QVERIFY(device.received().isEmpty());
    }

    // Threads and lifetime --------------------------------------------------------------------

    void notifySignalsCarryNewValuesInObjectThread()
    {
        TftpdServer server;
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        QTftp tftp;
        pointAt(tftp, server.port());
        QThread *const guiThread = QThread::currentThread();
        int wrongThread = 0;
        int staleValue = 0;
        connect(&tftp, &QTftp::errorStringChanged, this, [&](const QString &value) {
            wrongThread += QThread::currentThread() != guiThread;
            staleValue += value != tftp.errorString();
        });
        connect(&tftp, &QTftp::fileProgressChanged, this, [&](int value) {
            wrongThread += QThread::currentThread() != guiThread;
            staleValue += value != tftp.fileProgress();
        });
        connect(&tftp, &QTftp::fileSizeChanged, this, [&](int value) {
            wrongThread += QThread::currentThread() != guiThread;
            staleValue += value != tftp.fileSize();
        });
        connect(&tftp, &QTftp::localPortChanged, this, [&](quint16 value) {
            wrongThread += QThread::currentThread() != guiThread;
            staleValue += value != tftp.localPort();
        });
        Upload upload;
        QString why;
        QVERIFY2(runUpload(tftp, u"l.bin"_s, randomBytes(200000), upload, why), qPrintable(why));
        QVERIFY(upload.result);
        QCOMPARE(wrongThread, 0);
        QCOMPARE(staleValue, 0);
        QVERIFY2(progressRunsTo(upload.progress, expectedProgress(200000), why), qPrintable(why));
    }

    void destroyingDuringUploadWaitsForIt()
    {
        ScriptedDevice device; // silent: the upload waits for a reply
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        QTemporaryDir folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
        QFile file(folder.filePath(u"m.bin"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("payload");
        file.close();
        auto tftp = std::make_unique<QTftp>();
        tftp->setReplyTimeoutForTesting(shortWaitMs);
        pointAt(*tftp, device.port());
        QSignalSpy completed(tftp.get(), &QTftp::updateCompleted);
        QVERIFY(tftp->sendFile(QUrl::fromLocalFile(file.fileName())));
        QTRY_COMPARE(device.received().size(), 1); // the task is in its wait now
        QElapsedTimer clock;
        clock.start();
        tftp.reset();
        QVERIFY2(clock.elapsed() < shortWaitMs + 2000,
                 qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(50); // the task's queued reports must not reach the freed object
        QCOMPARE(completed.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
