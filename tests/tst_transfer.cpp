// One file's TFTP upload: against tftpd-hpa for what a real server does, and against a scripted
// device for every other reply, failure and status text.
#include "datagramchannel.h"
#include "qtftp.h"
#include "support/scripteddevice.h"
#include "support/testsupport.h"
#include "support/tftpdserver.h"

#include <QHostInfo>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <thread>

#if defined(Q_OS_UNIX)
#    include <csignal>
#    include <pthread.h>
#endif

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {
constexpr qint64 largestFile = qint64(65535) * 512 - 1; // 65535 blocks
constexpr int shortWaitMs = 300;
const QString timeoutStatus = u"No message received from host  Network operation timed out"_s;

using Script = QList<ScriptedDevice::Step>;

// What the device received, one word per datagram: "WRQ" or "DATA n".
QStringList receivedPackets(const ScriptedDevice &device)
{
    QStringList packets;
    for (const ScriptedDevice::Received &got : device.received())
        packets.append(got.opcode() == 2 ? u"WRQ"_s : u"DATA %1"_s.arg(got.block()));
    return packets;
}
} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

public:
    static void initMain() { useTestSettings(); }

private slots:
    // The object reads nothing from the settings here, but if it did it must not be the user's.
    void initTestCase() { CHECK_OK(testSettingsProblem()); }
    void cleanup() { QTftp::errorTolerantFiles.clear(); }

    // Real server ---------------------------------------------------------------------------

    void realServerDeliversFile_data()
    {
        QTest::addColumn<TftpdServer::Mode>("mode");
        QTest::addColumn<qint64>("size");
        for (const auto &[mode, label] : {std::pair {TftpdServer::Mode::Normal, "oack"},
                                          std::pair {TftpdServer::Mode::RefuseTsize, "ack0"}}) {
            for (qint64 size :
                 {0ll, 1ll, 511ll, 512ll, 513ll, 1000ll, 3ll * 1024 * 1024 + 77, largestFile})
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

        // Every notify signal reaches this thread and carries the value the getter gives then.
        QThread *const guiThread = QThread::currentThread();
        int wrongThread = 0;
        int staleValue = 0;
        const auto watch = [&](auto signal, auto getter) {
            connect(&tftp, signal, this, [&, getter](const auto &value) {
                wrongThread += QThread::currentThread() != guiThread;
                staleValue += value != (tftp.*getter)();
            });
        };
        watch(&QTftp::errorStringChanged, &QTftp::errorString);
        watch(&QTftp::fileProgressChanged, &QTftp::fileProgress);
        watch(&QTftp::fileSizeChanged, &QTftp::fileSize);
        watch(&QTftp::localPortChanged, &QTftp::localPort);

        Upload upload;
        CHECK_OK(runUpload(tftp, name, data, upload));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        QCOMPARE(wrongThread, 0);
        QCOMPARE(staleValue, 0);
        QVERIFY2(server.waitForFile(name, size), qPrintable(server.receivedFileNames().join(u',')));
        QVERIFY(server.receivedFile(name) == data); // not QCOMPARE: it would print megabytes
        QCOMPARE(upload.sizes, QList<int> {int(size)});
        QCOMPARE(tftp.fileSize(), int(size));
        QCOMPARE(tftp.fileProgress(), expectedProgress(size));
        CHECK_OK(progressProblem(upload.progress, expectedProgress(size)));
        QCOMPARE(upload.statuses, (QStringList {u"Sending file %1"_s.arg(name), u"No Error"_s}));
        QVERIFY(tftp.localPort() != 0);
    }

    // Scripted device: successful uploads -----------------------------------------------------

    void successfulUpload_data()
    {
        using D = ScriptedDevice;
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("localAddress");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArrayList>("expected"); // the write request, then the DATA
        const QByteArray data = randomBytes(1000); // the same bytes the test sends
        const QByteArrayList thousandBytes {"\0\2a.bin\0octet\0tsize\0"
                                            "1000\0"_ba,
                                            "\0\3\0\1"_ba + data.first(512),
                                            "\0\3\0\2"_ba + data.sliced(512)};
        const Script ackFirst {{D::ack(0)}, {D::ack(1)}, {D::ack(2)}};
        const Script oackFirst {{D::oack()}, {D::ack(1)}, {D::ack(2)}};
        QTest::addRow("ACK 0") << ackFirst << u"127.0.0.1"_s << u"a.bin"_s << 1000 << thousandBytes;
        QTest::addRow("OACK") << oackFirst << u"127.0.0.1"_s << u"a.bin"_s << 1000 << thousandBytes;
        QTest::addRow("OACK, bound to any IPv4")
            << oackFirst << u"0.0.0.0"_s << u"a.bin"_s << 1000 << thousandBytes;
        QTest::addRow("OACK, no local address (dual stack)")
            << oackFirst << QString() << u"a.bin"_s << 1000 << thousandBytes;
        QTest::addRow("done, OACK after the final block")
            << Script {{D::oack()}, {D::oack()}} << u"127.0.0.1"_s << u"done"_s << 0
            << QByteArrayList {QByteArray::fromHex("0002646f6e65006f63746574007473697a65003000"),
                               QByteArray::fromHex("00030001")};
    }

    void successfulUpload()
    {
        QFETCH(Script, script);
        QFETCH(QString, localAddress);
        QFETCH(QString, fileName);
        QFETCH(int, size);
        QFETCH(QByteArrayList, expected);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript(script);
        QTftp tftp;
        pointAt(tftp, device.port());
        tftp.setLocalAddress(localAddress);

        Upload upload;
        CHECK_OK(runUpload(tftp, fileName, randomBytes(size), upload));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        QByteArrayList received;
        for (const ScriptedDevice::Received &got : device.received()) {
            received.append(got.bytes);
            // The client's port stays the same for the whole transfer.
            QCOMPARE(got.senderPort, tftp.localPort());
        }
        QCOMPARE(received, expected);
        QCOMPARE(tftp.fileSize(), size);
        QCOMPARE(tftp.fileProgress(), expectedProgress(size));
        CHECK_OK(progressProblem(upload.progress, expectedProgress(size)));
    }

    void repliesFromAnotherSocket_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addRow("new port") << u"127.0.0.1"_s;
        QTest::addRow("another loopback address") << u"127.0.0.2"_s;
    }

    void repliesFromAnotherSocket()
    {
        // Later DATA go to the reply's port; its address is not kept, so after a reply from
        // 127.0.0.2:P they go to the looked-up address at that port: 127.0.0.1:P.
        QFETCH(QString, address);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        const int replying = device.addSocket(QHostAddress(address));
        QVERIFY2(replying > 0, qPrintable(device.errorString()));
        const int target = address == u"127.0.0.1"_s
            ? replying
            : device.addSocket(QHostAddress::LocalHost, device.portOf(replying));
        QVERIFY2(target > 0, qPrintable(device.errorString()));
        device.setScript({{ScriptedDevice::ack(0, replying)}});
        device.setAcknowledgeRest(true);
        QTftp tftp;
        pointAt(tftp, device.port());
        const QByteArray data = randomBytes(2000);

        Upload upload;
        CHECK_OK(runUpload(tftp, u"b.bin"_s, data, upload));
        QCOMPARE(upload.status, u"No Error"_s);
        QVERIFY(upload.result);
        QList<int> sockets;
        for (const ScriptedDevice::Received &got : device.received())
            sockets.append(got.socket);
        QCOMPARE(sockets, (QList<int> {0, target, target, target, target}));
        QCOMPARE(device.receivedData(), data);
    }

    // Scripted device: failures ---------------------------------------------------------------

    void failedUpload_data()
    {
        using D = ScriptedDevice;
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("listed"); // a name on the error-tolerant list
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("received");
        const QStringList toRequest {u"WRQ"_s};
        const QStringList toData {u"WRQ"_s, u"DATA 1"_s};

        // DATA 2 goes out before the duplicate is read.
        QTest::addRow("duplicate ACK")
            << Script {{D::ack(0)}, {D::ack(1), D::ack(1)}} << u"d.bin"_s << QString()
            << u"Error on incoming packet number 1 vs expected 2"_s << false
            << (toData + QStringList {u"DATA 2"_s});

        const QString unlisted = u"7380KD-v1.bin"_s;
        const QString listed = u"7380-x-v1.bin"_s;
        const D::Reply error = D::error(2, "abc");
        const QString protocolError = u"Protocol Error: 2 abc"_s;
        QTest::addRow("ERROR, unlisted, to DATA") << Script {{D::ack(0)}, {error}} << unlisted
                                                  << listed << protocolError << false << toData;
        QTest::addRow("ERROR, unlisted, to write request")
            << Script {{error}} << unlisted << listed << protocolError << false << toRequest;
        QTest::addRow("ERROR, listed, to DATA")
            << Script {{D::ack(0)}, {error}} << u"7380-X-v1.bin"_s << listed << u"No Error"_s
            << true << toData;
        QTest::addRow("ERROR, listed, to write request")
            << Script {{error}} << u"7380-X-v1.bin"_s << listed << u"No Error"_s << true
            << toRequest;
        QTest::addRow("ERROR, listed, other letter case")
            << Script {{error}} << u"7380-X-V1.BIN"_s << listed << u"No Error"_s << true
            << toRequest;
        QTest::addRow("ERROR without terminating zero")
            << Script {{D::raw(QByteArray("\0\5\0\1disk full", 13))}} << u"e.bin"_s << QString()
            << u"Protocol Error: 1 disk full"_s << false << toRequest;

        for (quint16 opcode : {1, 2, 3})
            QTest::addRow("opcode %d", opcode)
                << Script {{D::raw(D::packet(opcode, 1))}} << u"f.bin"_s << QString()
                << u"Unexpected Packet Received: %1"_s.arg(opcode) << false << toRequest;
        for (quint16 opcode : {0, 7, 9, 65535})
            QTest::addRow("opcode %d", opcode)
                << Script {{D::raw(D::packet(opcode, 1))}} << u"f.bin"_s << QString()
                << u"Unknown Op Code: %1"_s.arg(opcode) << false << toRequest;

        // A short ERROR is refused even for a listed name: it carries no error code.
        for (const QByteArray &datagram :
             {QByteArray(), QByteArray(1, '\0'), QByteArray("\0\4", 2), QByteArray("\0\4\0", 3),
              QByteArray("\0\5", 2), QByteArray("\0\5\0", 3)}) {
            const QString status = u"Malformed packet received: %1 bytes"_s.arg(datagram.size());
            const QByteArray hex = datagram.toHex();
            QTest::addRow("malformed '%s' to write request", hex.constData())
                << Script {{D::raw(datagram)}} << u"g.bin"_s << u"g.bin"_s << status << false
                << toRequest;
            QTest::addRow("malformed '%s' to DATA", hex.constData())
                << Script {{D::ack(0)}, {D::raw(datagram)}} << u"g.bin"_s << u"g.bin"_s << status
                << false << toData;
        }

        // No resend after the wait.
        QTest::addRow("no reply to write request")
            << Script {} << u"h.bin"_s << QString() << timeoutStatus << false << toRequest;
        QTest::addRow("no reply to DATA 1")
            << Script {{D::ack(0)}} << u"h.bin"_s << QString() << timeoutStatus << false << toData;
        QTest::addRow("no reply to DATA 3")
            << Script {{D::oack()}, {D::ack(1)}, {D::ack(2)}} << u"h.bin"_s << QString()
            << timeoutStatus << false << (toData + QStringList {u"DATA 2"_s, u"DATA 3"_s});
    }

    void failedUpload()
    {
        QFETCH(Script, script);
        QFETCH(QString, fileName);
        QFETCH(QString, listed);
        QFETCH(QString, status);
        QFETCH(bool, result);
        QFETCH(QStringList, received);
        if (!listed.isEmpty())
            QTftp::errorTolerantFiles.append(listed);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setScript(script);
        QTftp tftp;
        const bool timesOut = status == timeoutStatus;
        if (timesOut)
            tftp.setReplyTimeoutForTesting(shortWaitMs);
        pointAt(tftp, device.port());

        Upload upload;
        CHECK_OK(runUpload(tftp, fileName, randomBytes(1500), upload));
        QCOMPARE(upload.status, status);
        QCOMPARE(upload.result, result);
        QCOMPARE(receivedPackets(device), received);
        if (timesOut)
            QVERIFY2(upload.elapsedMs >= shortWaitMs,
                     qPrintable(QString::number(upload.elapsedMs)));
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
        CHECK_OK(runUpload(tftp, u"i.bin"_s, "x", upload, 30000));
        QCOMPARE(upload.status, timeoutStatus);
        QVERIFY(!upload.result);
        QVERIFY2(upload.elapsedMs >= 10000 && upload.elapsedMs < 15000,
                 qPrintable(QString::number(upload.elapsedMs)));
        QCOMPARE(device.received().size(), 1);
    }

    // The datagram channel ----------------------------------------------------------------------

    void channelTimeoutTextIsTheSockets()
    {
        // The channel waits natively and leaves the failure to the socket: the text must be the
        // one a plain waitForReadyRead gives.
        QUdpSocket plain;
        QVERIFY2(plain.bind(QHostAddress::LocalHost, 0), qPrintable(plain.errorString()));
        QVERIFY(!plain.waitForReadyRead(shortWaitMs));
        QCOMPARE(plain.error(), QAbstractSocket::SocketTimeoutError);
        QCOMPARE(plain.errorString(), u"Network operation timed out"_s); // what Qt 6.4 says

        QUdpSocket socket;
        QVERIFY2(socket.bind(QHostAddress::LocalHost, 0), qPrintable(socket.errorString()));
        DatagramChannel channel(socket);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(channel.receiveWithin(shortWaitMs) == DatagramChannel::Arrival::TimedOut);
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
        QVERIFY(channel.receiveWithin(2000) == DatagramChannel::Arrival::Received);
        QCOMPARE(QByteArray(channel.datagram(), channel.datagramSize()), big);
        QCOMPARE(channel.senderPort(), sender.localPort());
        QVERIFY(channel.send("pong", QHostAddress::LocalHost, sender.localPort()));
        QVERIFY(sender.waitForReadyRead(2000));
        QCOMPARE(sender.receiveDatagram().data(), QByteArray("pong"));
    }

#if defined(Q_OS_UNIX)
    void channelWaitSurvivesSignals()
    {
        // A signal that lands in the wait must neither end it early nor lose a datagram.
        using SignalAction = struct sigaction;
        SignalAction action {};
        action.sa_handler = [](int) {
        };
        sigemptyset(&action.sa_mask);
        SignalAction previous {};
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
                received = channel.receiveWithin(800) == DatagramChannel::Arrival::Received;
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

    // Before anything is sent -----------------------------------------------------------------

    void unresolvableHost()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        QTftp tftp;
        pointAt(tftp, device.port());
        // A name that IDNA refuses: Qt fails it before any query leaves the machine.
        const QString badName = u"bad..name"_s;
        QCOMPARE(QHostInfo::fromName(badName).errorString(), u"Invalid hostname"_s);
        tftp.setRemoteAddress(badName);
        Upload upload;
        CHECK_OK(runUpload(tftp, u"j.bin"_s, "x", upload));
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
        CHECK_OK(runUpload(tftp, u"k.bin"_s, "x", upload));
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
        CHECK_OK(runUpload(tftp, u"huge.bin"_s, QByteArray(largestFile + 1, 'z'), upload));
        QVERIFY(!upload.result);
        QVERIFY2(upload.status.contains(u"huge.bin"_s), qPrintable(upload.status));
        QVERIFY2(upload.status.contains(QString::number(largestFile)), qPrintable(upload.status));
        QTest::qWait(50);
        QVERIFY(device.received().isEmpty());
    }

    // Lifetime ----------------------------------------------------------------------------------

    void destroyingDuringUploadWaitsForIt()
    {
        ScriptedDevice device; // silent: the upload waits for a reply
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        QTemporaryDir folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
        CHECK_OK(writeFiles(folder.path(), {u"m.bin"_s}));
        auto tftp = std::make_unique<QTftp>();
        tftp->setReplyTimeoutForTesting(shortWaitMs);
        pointAt(*tftp, device.port());
        QSignalSpy completed(tftp.get(), &QTftp::updateCompleted);
        QVERIFY(tftp->sendFile(QUrl::fromLocalFile(folder.filePath(u"m.bin"_s))));
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
