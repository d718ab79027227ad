// One file's upload and whole runs, against a scripted device for every reply and failure.
#include "deviceaddress.h"
#include "firmwarefile.h"
#include "handover.h"
#include "packets.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSet>
#include <QSignalSpy>
#include <QThread>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {
const QString noError = u"No Error"_s;
const QString tooLarge
    = u"is too large: 33553920 bytes, the most a transfer can carry is 33553919 bytes"_s;

struct Exchange
{
    QList<QByteArrayList> script = {}; // the answers to the first, second, ... datagram
    QString status = {};
    int sent = 0; // datagrams the device receives
    QString name = u"7380KD-v1.bin"_s;
    qint64 size = 1000;
    // Sent to the client before the device's answers, from another host (or, with stranger 1,
    // from the device's address at another port); with flood, every 100 ms as well.
    QList<QByteArrayList> strangers = {};
    int stranger = 0;
    bool flood = false;
    QString local = u"127.0.0.1"_s;
    QString remote = u"127.0.0.1"_s;
    // tstx-update --resend, to a device that answers each block (0: the write request) with its
    // ACK, but not the first copy of those lost, and twice for a repeated one.
    bool resend = false;
    QList<int> lost = {};
    int repeated = -1;
    quint16 port = 0; // where the write request goes; 0: to the device
};

struct Run
{
    QStringList sent = {}; // the write requests, in order
    QString status = {}; // when the run ends; %1 is the folder
    int index = 0; // the run's position at its end
    QString failing = {}; // its write request gets opcode 9
    QString broken = {}; // after the listing, a link that leads nowhere takes its place
    QString replaceAt = {}; // when its write request comes, every file gets other bytes
    QString sums = {}; // a SHA256SUMS line for each file, a wrong one for this
    QString cancelAt = {}; // the update is cancelled when its write request comes
    QString cancelAtEnd = {}; // or when its last block comes
    QString refusedAtBlock3 = {}; // the device answers its third block with an ERROR
    QStringList files = {u"7465-v1.bin"_s, u"7380-X-v1.bin"_s, u"7380KD-v1.bin"_s, u"notes.txt"_s};
    QString large = {}; // a file of size bytes; the others have a few thousand
    qint64 size = 0; // -1: a link to an endless device, -2: to a file that grows while read
    QString remote = u"127.0.0.1"_s; // the device as typed
    QString runText = {}; // the run's result, where the row is about it
};
} // namespace
Q_DECLARE_METATYPE(Exchange)
Q_DECLARE_METATYPE(Run)

class TestUpload : public QObject
{
    Q_OBJECT

private slots:
    void scripted_data()
    {
        QTest::addColumn<Exchange>("exchange");
        QTest::addColumn<bool>("plain"); // through QUdpSocket alone, as Windows sends
        const auto addRow = [](const char *name, const Exchange &exchange, bool bothPaths = true) {
            QTest::addRow("%s", name) << exchange << false;
            if (bothPaths)
                QTest::addRow("%s, plain socket path", name) << exchange << true;
        };
        const QByteArray ack0 = packet(4, 0), ack1 = packet(4, 1), ack2 = packet(4, 2);
        const QByteArray oack = "\0\6tsize\0"_ba + "1000\0"_ba;
        const QByteArray refusal = errorPacket(2, "abc");
        const QString timeout = u"No message received from host  Network operation timed out"_s;
        const QList<QByteArrayList> blocks {{ack0}, {ack1}, {ack2}, {packet(4, 3)}};
        addRow("ACK 0, then each block, the last one empty",
               Exchange {blocks, noError, 4, u"7380KD-v1.bin"_s, 1024});
        // An OACK answers the write request only: a device that sends it again (as tftpd-hpa does
        // when DATA 1 is lost) never acknowledged the block just sent.
        const QString oackLater = u"Unexpected Packet Received: 6"_s;
        addRow("OACK after ACK 0, one block",
               Exchange {{{ack0, oack}}, oackLater, 2, u"7380KD-v1.bin"_s, 100});
        addRow("OACK again for block 2",
               Exchange {{{oack}, {ack1}, {oack}}, oackLater, 3, u"7380KD-v1.bin"_s, 1000});
        // The device's previous reply again (a server waiting for a late block re-sends it) is
        // waited past, and gets no block in answer; any other block number ends the upload.
        addRow("OACK again for block 1, then ACK 1",
               Exchange {{{oack}, {oack, ack1}}, noError, 2, u"7380KD-v1.bin"_s, 100});
        addRow("ACK 1 again for block 2, then ACK 2",
               Exchange {{{ack0}, {ack1}, {ack1, ack1, ack2}}, noError, 3});
        addRow("ACK 0 for block 2",
               Exchange {{{ack0}, {ack1}, {ack0}},
                         u"Error on incoming packet number 0 vs expected 2"_s,
                         3});
        addRow(
            "ACK 0 after an OACK",
            Exchange {{{oack}, {ack0}}, u"Error on incoming packet number 0 vs expected 1"_s, 2});
        addRow(
            "ACK 2 for block 1",
            Exchange {{{ack0}, {ack2}}, u"Error on incoming packet number 2 vs expected 1"_s, 2});
        // --resend: the packet the device did not answer goes again; a repeated ACK is still only
        // waited past. The bytes arrive whole and in order. (How often a packet goes depends on
        // the timer: the datagrams are counted without their copies.)
        addRow("resend: DATA 1 lost, then ACK 1 twice",
               Exchange {.status = noError, .sent = 3, .resend = true, .lost = {1}, .repeated = 1});
        addRow("resend: the write request lost",
               Exchange {.status = noError, .sent = 3, .resend = true, .lost = {0}}, false);
        // Nothing listens at the port: the system's port unreachable ends it at once. Told only
        // through the native path; QUdpSocket alone waits the reply time out.
        QUdpSocket closed;
        closed.bind(QHostAddress::LocalHost, 0);
        const quint16 closedPort = closed.localPort();
        closed.close();
        addRow("nothing listening at the port",
               Exchange {.status = u"No message received from host  Connection refused"_s,
                         .sent = 0,
                         .port = closedPort},
               false);
        addRow("ERROR", Exchange {{{ack0}, {refusal}}, u"Protocol Error: 2 abc"_s, 2});
        addRow("ERROR 258, no zero",
               Exchange {{{ack0}, {"\0\5\1\2Größe"_ba}}, u"Protocol Error: 258 Größe"_s, 2});
        addRow("1 byte", Exchange {{{"\4"_ba}}, u"Malformed packet received: 1 bytes"_s, 1});
        addRow("ERROR to a primary image, any case",
               Exchange {{{refusal}}, noError, 1, u"7380-X-V1.BIN"_s});
        addRow("opcode 3", Exchange {{{packet(3, 1)}}, u"Unexpected Packet Received: 3"_s, 1});
        addRow("opcode 9", Exchange {{{ack0}, {packet(9, 1)}}, u"Unknown Op Code: 9"_s, 2});
        addRow("3 bytes", Exchange {{{"\0\4\0"_ba}}, u"Malformed packet received: 3 bytes"_s, 1});
        addRow("no answer to the last block", Exchange {{{ack0}, {ack1}}, timeout, 3});
        // Another host, or the device's address at another port once its transfer port is known:
        // no ACK, ERROR or junk of theirs ends, advances or completes a transfer.
        const QByteArrayList foreign {ack1, ack2, errorPacket(2, "stranger"), "\4"_ba};
        const QList<QByteArrayList> always {foreign, foreign, foreign, foreign},
            afterRequest {{}, foreign, foreign, foreign};
        addRow("another host's ACKs, ERROR and junk",
               Exchange {blocks, noError, 4, u"7380-X-V1.BIN"_s, 1024, always});
        addRow("the device's address at another port",
               Exchange {blocks, noError, 4, u"7380KD-v1.bin"_s, 1024, afterRequest, 1});
        addRow("a stream of strangers while the device is quiet",
               Exchange {{{ack0}, {ack1}}, timeout, 3, u"7380KD-v1.bin"_s, 1000, {}, 0, true});
        // Once taken for 127.0.0.1: refused, nothing sent.
        const QString octal = u"127.0.0.01 has parts with leading zeros, which some tools read as "
                              "octal; type 127.0.0.1"_s;
        addRow("leading zero", Exchange {.status = octal, .remote = u"127.0.0.01"_s}, false);
        addRow("unresolvable host",
               Exchange {.status = u"could not resolve host name bad..name"_s,
                         .remote = u"bad..name"_s},
               false);
        QUdpSocket unbindable; // an address this machine does not have; nothing is sent
        unbindable.bind(QHostAddress(u"203.0.113.7"_s), 0);
        addRow("address not on this machine",
               Exchange {.status = unbindable.errorString(), .local = u"203.0.113.7"_s}, false);
        addRow("too large",
               Exchange {{}, u"File a.bin "_s + tooLarge, 0, u"a.bin"_s, Tftp::maxFileSize + 1},
               false);
    }
    void scripted()
    {
        QFETCH(Exchange, exchange);
        QFETCH(bool, plain);
        QUdpSocket stranger;
        stranger.bind(QHostAddress(exchange.stranger ? u"127.0.0.1"_s : u"127.0.0.2"_s), 0);
        QSet<int> seen;
        ScriptedDevice device([&](int n, const QByteArray &got) {
            for (const QByteArray &datagram : exchange.strangers.value(n))
                stranger.writeDatagram(datagram, QHostAddress::LocalHost, device.peerPort);
            if (!exchange.resend)
                return exchange.script.value(n);
            const int block = got.startsWith("\0\2"_ba) ? 0 : quint8(got[2]) << 8 | quint8(got[3]);
            if (exchange.lost.contains(block) && !seen.contains(block)) {
                seen.insert(block);
                return QByteArrayList();
            }
            seen.insert(block);
            return QByteArrayList(block == exchange.repeated ? 2 : 1, packet(4, block));
        });
        QTimer flood;
        connect(&flood, &QTimer::timeout, this,
                [&] { stranger.writeDatagram("\4"_ba, QHostAddress::LocalHost, device.peerPort); });
        if (exchange.flood)
            flood.start(100);
        QTftp tftp;
        tftp.setPlainSocketPathForTesting(plain);
        tftp.setRemotePort(exchange.port ? exchange.port : device.port());
        tftp.setResendOnSilence(exchange.resend);
        tftp.setLocalAddress(exchange.local);
        tftp.setRemoteAddress(exchange.remote);
        tftp.setReplyTimeoutForTesting(3000);
        const QStringList before = QTftp::errorTolerantFiles;
        const auto restore = qScopeGuard([&] { QTftp::errorTolerantFiles = before; });
        QTftp::errorTolerantFiles.append(u"7380-x-v1.bin"_s);
        // What the window sees; foreign: reports off this thread, or other than the getter gives.
        QStringList statuses;
        QList<int> progress;
        int foreign = 0;
        connect(&tftp, &QTftp::errorStringChanged, this, [&](const QString &status) {
            statuses.append(status);
            foreign += QThread::currentThread() != thread() || status != tftp.errorString();
        });
        connect(&tftp, &QTftp::fileProgressChanged, this, [&](int value) {
            progress.append(value);
            foreign += QThread::currentThread() != thread() || value != tftp.fileProgress();
        });
        // On the pool, as a run runs it, while this thread's event loop serves the device.
        const QByteArray data = randomBytes(exchange.size);
        QFutureWatcher<bool> upload;
        QSignalSpy finished(&upload, &QFutureWatcher<bool>::finished);
        // Name and bytes by value: read through references to this stack, ThreadSanitizer took
        // them for raced once a process had been started from this thread.
        upload.setFuture(
            HandOver::run(QThreadPool::globalInstance(), [&tftp, name = exchange.name, data] {
                return tftp.uploadFile(name, data);
            }));
        // The bar moves while the device is quiet.
        if (exchange.status.startsWith(u"No message"_s) && !exchange.port)
            QTRY_COMPARE_WITH_TIMEOUT(tftp.fileProgress(), Tftp::bytesOnTheWire(1000), 2000);
        QElapsedTimer clock;
        clock.start();
        if (finished.isEmpty() && !finished.wait(60000)) // reported after the task's last status
            qFatal("the upload did not end");
        if (exchange.port)
            QCOMPARE_LT(clock.elapsed(), 1000);
        QCOMPARE(tftp.errorString(), exchange.status);
        QCOMPARE(upload.result(), exchange.status == noError);
        QCOMPARE(foreign, 0);
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()) && progress.value(0, 0) == 0);
        // Each lost packet went again; copies aside, every packet went once, in order.
        QByteArrayList received;
        for (const QByteArray &got : std::as_const(device.received)) {
            if (!exchange.resend || received.isEmpty() || got != received.constLast())
                received.append(got);
        }
        QVERIFY(device.received.size() >= received.size() + exchange.lost.size());
        QCOMPARE(received.size(), exchange.sent);
        int dataBytes = 0;
        for (qsizetype i = 0; i < received.size(); ++i) {
            QCOMPARE(received.at(i),
                     i == 0 ? "\0\2"_ba + exchange.name.toLocal8Bit() + "\0octet\0tsize\0"_ba
                             + QByteArray::number(exchange.size) + '\0'
                            : packet(3, int(i)) + data.mid((i - 1) * 512, 512));
            dataBytes
                += i ? int(received.at(i).size()) : 0; // each block once, however often it went
        }
        QCOMPARE(tftp.fileProgress(), dataBytes); // each block counts with its header
        if (exchange.sent) {
            QCOMPARE(statuses.value(0), u"Sending file "_s + exchange.name);
            QCOMPARE(tftp.fileSize(), int(exchange.size));
        }
    }

    void run_data()
    {
        QTest::addColumn<Run>("run");
        const QStringList order = u"7380-X-v1.bin|7380KD-v1.bin|7465-v1.bin|done"_s.split(u'|');
        const QStringList two = order.first(2);
        const QString opcode9 = u"Unknown Op Code: 9"_s;
        QTest::addRow("every file, then done") << Run {order, noError, 4};
        QTest::addRow("failure at the second") << Run {two, opcode9, 1, order[1]};
        QTest::addRow("failure at done") << Run {order, opcode9, 3, u"done"_s};
        // Stopped: the device is told to drop the part it has. Once a file is whole, nothing more
        // goes, not even "done".
        const QString stopped = u"Update stopped on request"_s;
        QTest::addRow("stopped") << Run {
            .sent = two,
            .status = stopped,
            .index = 1,
            .cancelAt = order[1],
            .runText = u"Update NOT complete: stopped on request at file 2 of 3 (7380KD-v1.bin); "
                       "1 file had been sent"_s};
        QTest::addRow("stopped while the last image's last block is acknowledged")
            << Run {.sent = order.first(3),
                    .status = stopped,
                    .index = 3,
                    .cancelAtEnd = order[2],
                    .runText = u"Update NOT complete: stopped on request at done; 3 files had "
                               "been sent"_s};
        // Nothing goes out unless every file can: a half update can leave a device off the air.
        QTest::addRow("a link that leads nowhere, named like an image")
            << Run {.status = u"File %1/7380KD-v1.bin is a link that leads nowhere"_s,
                    .broken = u"7380KD-v1.bin"_s};
        QTest::addRow("too large second image")
            << Run {.status = u"File %1/7380KD-v1.bin "_s + tooLarge,
                    .large = u"7380KD-v1.bin"_s,
                    .size = Tftp::maxFileSize + 1};
        QTest::addRow("link to a character device")
            << Run {.status = u"File %1/7465-v1.bin is not a regular file"_s,
                    .large = u"7465-v1.bin"_s,
                    .size = -1};
        QTest::addRow("a file that grows while it is read")
            << Run {.status = u"Could not read file %1/7465-v1.bin: it changed while it was read"_s,
                    .large = u"7465-v1.bin"_s,
                    .size = -2};
        // Read once at the start: the folder changing during the run changes nothing sent.
        QTest::addRow("images replaced during the run")
            << Run {.sent = order, .status = noError, .index = 4, .replaceAt = order[1]};
        QTest::addRow("SHA256SUMS mismatching")
            << Run {.status = u"File %1/7380KD-v1.bin does not match its line in SHA256SUMS"_s,
                    .sums = u"7380KD-v1.bin"_s};
        QTest::addRow("primary image refused at its third block")
            << Run {.sent = order, .status = noError, .index = 4, .refusedAtBlock3 = order[0]};
        // A lone "done" would tell the device that an update it never received is complete.
        const QString nothingSent = u"No firmware files in %1: nothing was sent"_s;
        QTest::addRow("no firmware")
            << Run {.status = nothingSent, .files = {u"9999-v1.bin"_s, u"notes.txt"_s}};
        // A name typed: the result says where it led. An address refused: nothing, not even done.
        QTest::addRow("a name, with spaces around it") << Run {
            .sent = order,
            .status = noError,
            .index = 4,
            .remote = u" localhost "_s,
            .runText = u"Update complete: 3 files and done sent to localhost (127.0.0.1)"_s};
        QTest::addRow("a name looked up once, for every file")
            << Run {.sent = order,
                    .status = noError,
                    .index = 4,
                    .remote = u"tx-rack7.example"_s,
                    .runText = u"Update complete: 3 files and done sent to tx-rack7.example "
                               "(127.0.0.1)"_s};
        QTest::addRow("an address with leading zeros")
            << Run {.status = u"127.000.0.1 has parts with leading zeros, which some tools read as "
                              "octal; type 127.0.0.1"_s,
                    .remote = u"127.000.0.1"_s,
                    .runText = u"Update NOT complete: nothing was sent"_s};
        const QStringList one {u"7380-v1.bin"_s};
        QTest::addRow("largest file") << Run {.sent = one + QStringList {u"done"_s},
                                              .status = noError,
                                              .index = 2,
                                              .files = one,
                                              .large = one[0],
                                              .size = Tftp::maxFileSize};
    }
    void run()
    {
        QFETCH(Run, run);
        QTemporaryDir folder;
        QHash<QString, QByteArray> contents;
        for (const QString &name : run.files) {
            QFile file(folder.filePath(name));
            contents[name] = name == run.large ? QByteArray(qMax(run.size, qint64(0)), '\0')
                                               : randomBytes(300 * name.size());
            if (name == run.large && run.size < 0) // a file of size 0 that reads on
                QVERIFY(QFile::link(run.size == -1 ? u"/dev/zero"_s : u"/proc/version"_s,
                                    file.fileName()));
            else if (name == run.large) // sparse: zeros that take no room
                QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(run.size));
            else
                QVERIFY(writeFile(file.fileName(), contents[name]));
        }
        QByteArray sums;
        for (const QString &name : run.files)
            sums += (name == run.sums ? QByteArray(64, 'a')
                                      : Firmware::sha256Hex(contents[name]).toLatin1())
                + "  " + name.toUtf8() + '\n';
        QVERIFY(run.sums.isEmpty() || writeFile(folder.filePath(u"SHA256SUMS"_s), sums));
        QTftp tftp;
        const auto request = [](const QByteArray &got, const QString &name) {
            return !name.isEmpty() && got.startsWith("\0\2"_ba + name.toLocal8Bit() + '\0');
        };
        bool refusing = false;
        QString receiving;
        ScriptedDevice device([&](int n, const QByteArray &got) {
            if (got.startsWith("\0\2"_ba))
                receiving = QString::fromLocal8Bit(got.mid(2).constData());
            if (request(got, run.cancelAt)
                || (receiving == run.cancelAtEnd && got.startsWith("\0\3"_ba) && got.size() < 516))
                tftp.cancelUpdate();
            if (request(got, run.replaceAt)) {
                for (const QString &name : run.files)
                    replaceUnseen(folder.filePath(name));
            }
            if (got.startsWith("\0\2"_ba))
                refusing = request(got, run.refusedAtBlock3);
            if (refusing && got.startsWith("\0\3\0\3"_ba))
                return QByteArrayList {errorPacket(2, "flash full")};
            return request(got, run.failing) ? QByteArrayList {packet(9, 0)}
                                             : ScriptedDevice::acknowledge(n, got);
        });
        tftp.setRemotePort(device.port());
        tftp.setRemoteAddress(run.remote);
        QStringList statusAtEnd;
        connect(&tftp, &QTftp::updateCompleted, this,
                [&] { statusAtEnd.append(tftp.errorString()); });
        tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
        if (!run.broken.isEmpty())
            QVERIFY(QFile::remove(folder.filePath(run.broken))
                    && QFile::link(folder.filePath(u"gone"_s), folder.filePath(run.broken)));
        // A name served round-robin: the first answer is the device, any later one a stranger.
        // Looked up where the images are read: off this thread, which the window draws from.
        int lookups = 0;
        QThread *lookupThread = nullptr;
        tftp.setHostLookupForTesting([&lookups, &lookupThread](const QString &) {
            lookupThread = QThread::currentThread();
            return QList<QHostAddress> {
                QHostAddress(++lookups == 1 ? u"127.0.0.1"_s : u"127.0.0.31"_s)};
        });
        QSignalSpy completed(&tftp, &QTftp::updateCompleted);
        tftp.startUpdate();
        QVERIFY(!completed.isEmpty() || completed.wait(60000));
        QCoreApplication::processEvents(); // room for a second, wrong end
        QCOMPARE(statusAtEnd, QStringList {run.status.replace(u"%1"_s, folder.path())});
        QCOMPARE(tftp.runState() == QTftp::Complete, run.status == noError);
        QCOMPARE(device.requests(), run.sent);
        QCOMPARE(tftp.currentFileIndex(), run.index);
        QCOMPARE(lookups, int(readDeviceAddress(run.remote).isHostName()));
        QVERIFY(lookupThread != thread());
        if (!run.runText.isEmpty())
            QCOMPARE(tftp.runText(), run.runText);
        QByteArray delivered, expected;
        for (const QByteArray &got : std::as_const(device.received))
            delivered += got.startsWith("\0\3"_ba) ? got.mid(4) : QByteArray();
        for (const QString &name : run.sent) {
            if (name != run.failing && name != run.cancelAt)
                expected += contents[name].first(
                    name == run.refusedAtBlock3 ? 1536 : contents[name].size());
        }
        QVERIFY(delivered == expected);
        // Told only of a stop within a file; a failure or a file already whole says nothing more.
        QByteArrayList errorsSent;
        for (const QByteArray &got : std::as_const(device.received)) {
            if (got.startsWith("\0\5"_ba))
                errorsSent.append(got);
        }
        QCOMPARE(errorsSent,
                 run.cancelAt.isEmpty()
                     ? QByteArrayList()
                     : QByteArrayList {errorPacket(0, "Update stopped on request")});
        QVERIFY(errorsSent.isEmpty() || device.received.constLast() == errorsSent.constFirst());
        // Counted is what the device acknowledged: not the block it answered with an ERROR.
        QCOMPARE(tftp.acknowledgedBytes(),
                 expected.size() - (run.refusedAtBlock3.isEmpty() ? 0 : 512));
        QCOMPARE(tftp.acceptedErrors().size(), qsizetype(!run.refusedAtBlock3.isEmpty()));
        for (const QTftp::AcceptedError &error : tftp.acceptedErrors())
            QVERIFY(error.fileName == run.refusedAtBlock3 && error.code == 2
                    && error.message == u"flash full"_s && error.bytesAcknowledged == 1024);
    }

    // A task the pool drops unrun still ends its future, without a result: the run ends, failed.
    void droppedTask()
    {
        QThreadPool pool;
        pool.setMaxThreadCount(1);
        QSemaphore busy;
        pool.start([&] { busy.acquire(); });
        const QFuture<bool> dropped = HandOver::run(&pool, [] { return true; });
        pool.clear();
        busy.release();
        QVERIFY(dropped.isFinished() && dropped.isCanceled() && dropped.resultCount() == 0);
    }
};

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
