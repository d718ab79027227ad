// One file's upload and whole runs: against tftpd-hpa for what a real server does, against a
// scripted device for every reply and failure a real server will not give.
#include "packets.h"
#include "support/testsupport.h"

#include <QFutureWatcher>
#include <QSignalSpy>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;
using namespace TestSupport;

using Script = QList<QByteArrayList>; // the answers to the first, second, ... datagram

class TestUpload : public QObject
{
    Q_OBJECT

    // What the window saw of one upload run on the pool, as a run runs it.
    struct Seen
    {
        bool result = false;
        QStringList statuses;
        QList<int> progress;
        int foreign
            = 0; // notify signals off this thread, or carrying another value than the getter
    };
    Seen upload(QTftp &tftp, const QString &name, const QByteArray &data,
                const std::function<void()> &whileRunning = {})
    {
        Seen seen;
        connect(&tftp, &QTftp::errorStringChanged, this, [&](const QString &status) {
            seen.statuses.append(status);
            seen.foreign += QThread::currentThread() != thread() || status != tftp.errorString();
        });
        connect(&tftp, &QTftp::fileProgressChanged, this, [&](int progress) {
            seen.progress.append(progress);
            seen.foreign += QThread::currentThread() != thread() || progress != tftp.fileProgress();
        });
        QFutureWatcher<bool> watcher;
        QSignalSpy finished(&watcher, &QFutureWatcher<bool>::finished);
        watcher.setFuture(QtConcurrent::run(&QTftp::uploadFile, &tftp, name, data));
        if (whileRunning)
            whileRunning();
        // The watcher reports after the task's last status has reached this thread.
        if (finished.isEmpty() && !finished.wait(60000))
            qFatal("the upload of %s did not end", qPrintable(name));
        seen.result = watcher.result();
        disconnect(&tftp, nullptr, this, nullptr);
        return seen;
    }

private slots:
    void realServer_data()
    {
        QTest::addColumn<bool>("refuseTsize"); // the server answers ACK 0 instead of an OACK
        QTest::addColumn<qint64>("size");
        QTest::addRow("OACK, empty") << false << qint64(0);
        QTest::addRow("ACK 0, one full block") << true << qint64(512);
        QTest::addRow("OACK, 1000 bytes") << false << qint64(1000);
        QTest::addRow("ACK 0, 3 MB") << true << qint64(3 << 20) + 77;
        QTest::addRow("OACK, largest file") << false << Tftp::maxFileSize;
    }
    void realServer()
    {
        QFETCH(bool, refuseTsize);
        QFETCH(qint64, size);
        Tftpd server(refuseTsize);
        QVERIFY2(server.start(), qPrintable(server.errorString));
        QTftp tftp;
        pointAt(tftp, server.port());
        const QByteArray data = randomBytes(size);
        const Seen seen = upload(tftp, u"image.bin"_s, data);
        QCOMPARE(seen.statuses, (QStringList {u"Sending file image.bin"_s, u"No Error"_s}));
        QVERIFY(seen.result);
        QVERIFY(server.file(u"image.bin"_s) == data); // not QCOMPARE: megabytes
        QCOMPARE(tftp.fileSize(), int(size));
        QCOMPARE(seen.progress.value(0, -1), 0);
        QVERIFY(std::is_sorted(seen.progress.cbegin(), seen.progress.cend()));
        QCOMPARE(tftp.fileProgress(), expectedProgress(size));
        QCOMPARE(seen.foreign, 0);
    }

    void scripted_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("sent"); // datagrams the device received
        const QByteArray ack0 = packet(4, 0), ack1 = packet(4, 1), ack2 = packet(4, 2);
        const QByteArray oack = "\0\6tsize\0"
                                "1000\0"_ba;
        const auto row = [](const char *label, const Script &script, const QString &status,
                            int sent) {
            QTest::addRow("%s", label) << script << u"127.0.0.1"_s << u"127.0.0.1"_s
                                       << u"7380KD-v1.bin"_s << qint64(1000) << status << sent;
        };
        row("ACK 0, then each block", {{ack0}, {ack1}, {ack2}}, u"No Error"_s, 3);
        row("OACK after the last block", {{oack}, {ack1}, {oack}}, u"No Error"_s, 3);
        row("duplicate ACK", {{ack0}, {ack1, ack1}},
            u"Error on incoming packet number 1 vs expected 2"_s, 3);
        row("ERROR", {{ack0}, {errorPacket(2, "abc")}}, u"Protocol Error: 2 abc"_s, 2);
        row("opcode 3", {{packet(3, 1)}}, u"Unexpected Packet Received: 3"_s, 1);
        row("opcode 9", {{ack0}, {packet(9, 1)}}, u"Unknown Op Code: 9"_s, 2);
        row("3 bytes", {{"\0\4\0"_ba}}, u"Malformed packet received: 3 bytes"_s, 1);
        row("no answer to the last block", {{ack0}, {ack1}},
            u"No message received from host  Network operation timed out"_s, 3);
        QTest::addRow("ERROR for a primary image, any case")
            << Script {{errorPacket(2, "abc")}} << u"127.0.0.1"_s << u"127.0.0.1"_s
            << u"7380-X-V1.BIN"_s << qint64(1000) << u"No Error"_s << 1;
        QTest::addRow("unresolvable host")
            << Script {} << u"127.0.0.1"_s << u"bad..name"_s << u"a.bin"_s << qint64(1)
            << u"could not resolve host name bad..name"_s << 0;
        QUdpSocket unbindable; // an address this machine does not have; nothing is sent
        unbindable.bind(QHostAddress(u"203.0.113.7"_s), 0);
        QTest::addRow("address not on this machine")
            << Script {} << u"203.0.113.7"_s << u"127.0.0.1"_s << u"a.bin"_s << qint64(1)
            << unbindable.errorString() << 0;
        QTest::addRow("too large")
            << Script {} << u"127.0.0.1"_s << u"127.0.0.1"_s << u"a.bin"_s << Tftp::maxFileSize + 1
            << u"File a.bin is too large: 33553920 bytes, the most a transfer can carry is "
               "33553919 bytes"_s
            << 0;
    }
    void scripted()
    {
        QFETCH(Script, script);
        QFETCH(QString, local);
        QFETCH(QString, remote);
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(QString, status);
        QFETCH(int, sent);
        ScriptedDevice device([&](int n, const QByteArray &) { return script.value(n); });
        QTftp tftp;
        pointAt(tftp, device.port());
        tftp.setLocalAddress(local);
        tftp.setRemoteAddress(remote);
        tftp.setReplyTimeoutForTesting(3000);
        const QStringList before = QTftp::errorTolerantFiles;
        QTftp::errorTolerantFiles.append(u"7380-x-v1.bin"_s);
        const QByteArray data = randomBytes(size);
        const Seen seen = upload(tftp, name, data, [&] {
            // The bar follows the blocks while the device is quiet.
            if (status.startsWith(u"No message"_s))
                QTRY_COMPARE_WITH_TIMEOUT(tftp.fileProgress(), expectedProgress(1000), 2000);
        });
        QTftp::errorTolerantFiles = before;
        QCOMPARE(tftp.errorString(), status);
        QCOMPARE(seen.result, status == u"No Error"_s);
        QCOMPARE(device.received.size(), sent);
        for (int i = 0; i < sent; ++i) {
            QCOMPARE(device.received.at(i),
                     i == 0 ? Tftp::writeRequest(name, size)
                            : packet(3, i) + data.mid((i - 1) * 512, 512));
        }
    }

    void run_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<qint64>("size"); // of every file; 0: a few hundred random bytes each
        QTest::addColumn<QString>("failing"); // its write request gets opcode 9
        QTest::addColumn<QString>("removed"); // after the listing
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("status"); // %1: the folder
        QTest::addColumn<int>("index");
        const QStringList files {u"7465-v1.bin"_s, u"7380-X-v1.bin"_s, u"7380KD-v1.bin"_s,
                                 u"notes.txt"_s};
        const QStringList order {u"7380-X-v1.bin"_s, u"7380KD-v1.bin"_s, u"7465-v1.bin"_s,
                                 u"done"_s};
        QTest::addRow("every file, then done")
            << files << qint64(0) << QString() << QString() << order << u"No Error"_s << 4;
        QTest::addRow("failure at the second")
            << files << qint64(0) << u"7380KD-v1.bin"_s << QString() << order.first(2)
            << u"Unknown Op Code: 9"_s << 1;
        QTest::addRow("failure at done") << files << qint64(0) << u"done"_s << QString() << order
                                         << u"Unknown Op Code: 9"_s << 3;
        QTest::addRow("file removed after the listing")
            << files << qint64(0) << QString() << u"7380KD-v1.bin"_s << order.first(1)
            << u"Could not open file %1/7380KD-v1.bin: No such file or directory"_s << 1;
        QTest::addRow("largest file")
            << QStringList {u"7380-v1.bin"_s} << Tftp::maxFileSize << QString() << QString()
            << QStringList {u"7380-v1.bin"_s, u"done"_s} << u"No Error"_s << 2;
        // A lone "done" would tell the device that an update it never received is complete.
        for (const QString &decoys : {QString(), u"9999-v1.bin|notes.txt"_s})
            QTest::addRow("nothing to send: %s", decoys.isEmpty() ? "empty folder" : "decoys")
                << decoys.split(u'|', Qt::SkipEmptyParts) << qint64(0) << QString() << QString()
                << QStringList() << u"No firmware files in %1: nothing was sent"_s << 0;
        QTest::addRow("too large") << QStringList {u"7380-v1.bin"_s} << Tftp::maxFileSize + 1
                                   << QString() << QString() << QStringList()
                                   << u"File %1/7380-v1.bin is too large: 33553920 bytes, the most "
                                      "a transfer can carry is 33553919 bytes"_s
                                   << 0;
    }
    void run()
    {
        QFETCH(QStringList, files);
        QFETCH(qint64, size);
        QFETCH(QString, failing);
        QFETCH(QString, removed);
        QFETCH(QStringList, sent);
        QFETCH(QString, status);
        QFETCH(int, index);
        QTemporaryDir folder;
        QHash<QString, QByteArray> contents;
        for (const QString &name : files) {
            contents[name] = size ? QByteArray(size, '\0') : randomBytes(300 * name.size());
            QVERIFY(writeFile(folder.filePath(name), contents[name]));
        }
        ScriptedDevice device([&](int n, const QByteArray &got) {
            if (!failing.isEmpty() && got.startsWith("\0\2"_ba + failing.toLocal8Bit() + '\0'))
                return QByteArrayList {packet(9, 0)};
            return ScriptedDevice::acknowledge(n, got);
        });
        QTftp tftp;
        pointAt(tftp, device.port());
        QStringList statusAtEnd;
        connect(&tftp, &QTftp::updateCompleted, this,
                [&] { statusAtEnd.append(tftp.errorString()); });
        tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
        if (!removed.isEmpty())
            QVERIFY(QFile::remove(folder.filePath(removed)));
        QSignalSpy completed(&tftp, &QTftp::updateCompleted);
        tftp.startUpdate();
        QVERIFY(!completed.isEmpty() || completed.wait(60000));
        QCoreApplication::processEvents();
        QCOMPARE(statusAtEnd, QStringList {status.replace(u"%1"_s, folder.path())});
        QCOMPARE(device.requests(), sent);
        QCOMPARE(tftp.currentFileIndex(), index);
        QByteArray delivered, expected;
        for (const QByteArray &got : std::as_const(device.received))
            delivered += got.startsWith("\0\3"_ba) ? got.mid(4) : QByteArray();
        for (const QString &name : sent)
            expected += name == failing ? QByteArray() : contents.value(name);
        QVERIFY(delivered == expected);
    }
};

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
