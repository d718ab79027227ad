// The update run: every listed file in order, then the empty "done", one updateCompleted per run;
// against tftpd-hpa and against a scripted device that fails where a test wants.
#include "qtftp.h"
#include "support/scripteddevice.h"
#include "support/tftpdserver.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
// One file per name pattern, in the order a run sends them.
const QStringList firmwareNames {u"7380-X-v1.bin"_s, u"7381-v2.bin"_s, u"7380KD-v3.bin"_s,
                                 u"7465-v4.bin"_s};

QByteArray randomBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->generate());
    return bytes;
}

// A folder holding the firmware files with random contents of different sizes.
struct FirmwareFolder
{
    QTemporaryDir folder;
    QHash<QString, QByteArray> contents;

    bool create(const QStringList &names, QString &why)
    {
        if (!folder.isValid()) {
            why = folder.errorString();
            return false;
        }
        qint64 size = 0;
        for (const QString &name : names) {
            const QByteArray bytes = randomBytes(size);
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
                why = file.errorString();
                return false;
            }
            contents.insert(name, bytes);
            size = size * 3 + 700; // 0, 700, 2800, 9100 ...: empty, short, several blocks
        }
        return true;
    }
    [[nodiscard]] QUrl url() const { return QUrl::fromLocalFile(folder.path()); }
};

// The run's log as the window sees it: each status text, and the status when the run ended.
struct RunRecord
{
    QStringList statuses;
    QStringList statusesAtCompletion;
    int completions = 0;
};

void record(QTftp &tftp, RunRecord &run)
{
    QObject::connect(&tftp, &QTftp::errorStringChanged, &tftp,
                     [&run](const QString &status) { run.statuses.append(status); });
    QObject::connect(&tftp, &QTftp::updateCompleted, &tftp, [&run, &tftp] {
        ++run.completions;
        run.statusesAtCompletion.append(tftp.errorString());
    });
}

QStringList sentNames(const RunRecord &run)
{
    QStringList names;
    for (const QString &status : run.statuses) {
        if (status.startsWith(u"Sending file "_s))
            names.append(status.mid(13));
    }
    return names;
}

QStringList requestedNames(const ScriptedDevice &device)
{
    QStringList names;
    for (const ScriptedDevice::Received &got : device.received()) {
        if (got.opcode() == 2)
            names.append(ScriptedDevice::requestedName(got));
    }
    return names;
}

// Waits for the end of the run, then a little longer for a second, unwanted updateCompleted.
bool waitForRunEnd(const RunRecord &run, int timeoutMs = 60000)
{
    if (!QTest::qWaitFor([&run] { return run.completions > 0; }, timeoutMs))
        return false;
    QTest::qWait(100);
    return true;
}

void pointAt(QTftp &tftp, quint16 port)
{
    tftp.setLocalAddress(u"127.0.0.1"_s);
    tftp.setRemoteAddress(u"127.0.0.1"_s);
    tftp.setRemotePort(port);
}
} // namespace

class TestSequencing : public QObject
{
    Q_OBJECT

public:
    // Runs before the application object exists.
    static void initMain() { QStandardPaths::setTestModeEnabled(true); }

private slots:
    void initTestCase()
    {
        const QString settingsFile = QSettings().fileName();
        QVERIFY2(settingsFile.contains(u"qttest"_s), qPrintable(settingsFile));
    }

    // Against tftpd-hpa ------------------------------------------------------------------------

    void wholeRunDeliversEveryFile_data()
    {
        QTest::addColumn<TftpdServer::Mode>("mode");
        QTest::addColumn<int>("fileCount");
        for (const auto &[mode, label] : {std::pair {TftpdServer::Mode::Normal, "oack"},
                                          std::pair {TftpdServer::Mode::RefuseTsize, "ack0"}}) {
            QTest::addRow("%s, empty folder", label) << mode << 0;
            QTest::addRow("%s, 4 files", label) << mode << 4;
        }
    }

    void wholeRunDeliversEveryFile()
    {
        QFETCH(TftpdServer::Mode, mode);
        QFETCH(int, fileCount);
        TftpdServer server(mode);
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        FirmwareFolder firmware;
        QString why;
        const QStringList names = firmwareNames.mid(0, fileCount);
        QVERIFY2(firmware.create(names, why), qPrintable(why));
        QTftp tftp;
        pointAt(tftp, server.port());
        RunRecord run;
        record(tftp, run);

        tftp.buildFileList(firmware.url());
        QTest::ignoreMessage(QtDebugMsg, "Starting the update");
        tftp.startUpdate();
        QVERIFY(waitForRunEnd(run));

        QCOMPARE(run.completions, 1);
        QCOMPARE(run.statusesAtCompletion, QStringList {u"No Error"_s});
        QCOMPARE(tftp.currentFileIndex(), fileCount + 1);
        QCOMPARE(sentNames(run), names + QStringList {u"done"_s});
        for (const QString &name : names) {
            QVERIFY2(server.waitForFile(name, firmware.contents.value(name).size()),
                     qPrintable(name));
            QVERIFY2(server.receivedFile(name) == firmware.contents.value(name), qPrintable(name));
        }
        QVERIFY(server.waitForFile(u"done"_s, 0));
        QCOMPARE(server.receivedFileNames().size(), fileCount + 1);
    }

    // Against a scripted device ----------------------------------------------------------------

    void goodFilesGiveOneUploadEachThenDone()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setAcknowledgeRest(true);
        FirmwareFolder firmware;
        QString why;
        QVERIFY2(firmware.create(firmwareNames, why), qPrintable(why));
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run;
        record(tftp, run);

        tftp.buildFileList(firmware.url());
        tftp.startUpdate();
        QVERIFY(waitForRunEnd(run));

        QCOMPARE(requestedNames(device), firmwareNames + QStringList {u"done"_s});
        QCOMPARE(run.completions, 1);
        QCOMPARE(tftp.currentFileIndex(), int(firmwareNames.size()) + 1);
        QCOMPARE(run.statusesAtCompletion, QStringList {u"No Error"_s});
        QByteArray allData;
        for (const QString &name : firmwareNames)
            allData += firmware.contents.value(name);
        QVERIFY(device.receivedData() == allData);
    }

    void failureStopsTheRun_data()
    {
        QTest::addColumn<int>("failingEntry");
        for (int entry = 0; entry <= int(firmwareNames.size()); ++entry)
            QTest::addRow("entry %d", entry) << entry; // the last one is "done"
    }

    void failureStopsTheRun()
    {
        QFETCH(int, failingEntry);
        const QStringList expected = firmwareNames + QStringList {u"done"_s};
        const QString &failingName = expected.at(failingEntry);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setFallback([failingName](const ScriptedDevice::Received &got) {
            if (ScriptedDevice::requestedName(got) == failingName)
                return ScriptedDevice::Step {ScriptedDevice::raw(ScriptedDevice::packet(9, 0))};
            return ScriptedDevice::acknowledgement(got);
        });
        FirmwareFolder firmware;
        QString why;
        QVERIFY2(firmware.create(firmwareNames, why), qPrintable(why));
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run;
        record(tftp, run);

        tftp.buildFileList(firmware.url());
        tftp.startUpdate();
        QVERIFY(waitForRunEnd(run));

        QCOMPARE(requestedNames(device), expected.mid(0, failingEntry + 1));
        QCOMPARE(run.completions, 1);
        QCOMPARE(tftp.currentFileIndex(), failingEntry);
        // The status seen when the run ends is already the failed upload's message.
        QCOMPARE(run.statusesAtCompletion, QStringList {u"Unknown Op Code: 9"_s});
    }

    void fileDeletedAfterListing()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setAcknowledgeRest(true);
        FirmwareFolder firmware;
        QString why;
        QVERIFY2(firmware.create(firmwareNames, why), qPrintable(why));
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run;
        record(tftp, run);

        tftp.buildFileList(firmware.url());
        const QString deleted = firmware.folder.filePath(firmwareNames.at(1));
        QVERIFY(QFile::remove(deleted));
        tftp.startUpdate();
        QVERIFY(waitForRunEnd(run));

        QCOMPARE(requestedNames(device), firmwareNames.mid(0, 1));
        QCOMPARE(run.completions, 1);
        QCOMPARE(tftp.currentFileIndex(), 1);
        QCOMPARE(run.statusesAtCompletion,
                 QStringList {u"Could not open file %1: No such file or directory"_s.arg(deleted)});
    }

    void tooLargeFileIsRefusedBeforeAnything()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setAcknowledgeRest(true);
        QTemporaryDir folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
        const QString path = folder.filePath(u"7380-v9.bin"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(65535) * 512)); // sparse: one byte more than a transfer holds
        file.close();
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run;
        record(tftp, run);

        tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
        tftp.startUpdate();
        QVERIFY(waitForRunEnd(run));

        QVERIFY(device.received().isEmpty());
        QCOMPARE(run.completions, 1);
        QCOMPARE(tftp.currentFileIndex(), 0);
        QCOMPARE(run.statusesAtCompletion.size(), 1);
        const QString status = run.statusesAtCompletion.constFirst();
        QVERIFY2(status.contains(path) && status.contains(u"33553919"_s), qPrintable(status));
    }

    void sendFileWithEndMarkerTouchesNoFile()
    {
        // A file named "done" in the working folder must not be read: the end marker is empty.
        QTemporaryDir folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
        QFile decoy(folder.filePath(u"done"_s));
        QVERIFY(decoy.open(QIODevice::WriteOnly));
        decoy.write("not for the device");
        decoy.close();
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setAcknowledgeRest(true);
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run;
        record(tftp, run);

        const bool started = tftp.sendFile(QUrl(u"done"_s, QUrl::TolerantMode));
        const bool ended = waitForRunEnd(run);
        QDir::setCurrent(previous);
        QVERIFY(started);
        QVERIFY(ended);
        QCOMPARE(requestedNames(device), QStringList {u"done"_s});
        QCOMPARE(device.received().size(), 2);
        QCOMPARE(device.received().at(0).bytes, QTftp::buildWriteRequest(u"done"_s, {}));
        QCOMPARE(device.received().at(1).bytes, QByteArray::fromHex("00030001"));
        // Outside a run the upload still counts as a step of one: index 1, beyond the empty list.
        QCOMPARE(tftp.currentFileIndex(), 1);
        QCOMPARE(run.completions, 1);
    }

    void sendFileThatCannotBeOpened()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        QTemporaryDir folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run;
        record(tftp, run);
        const QString missing = folder.filePath(u"7380-v1.bin"_s);

        QVERIFY(!tftp.sendFile(QUrl::fromLocalFile(missing)));
        QCOMPARE(tftp.errorString(),
                 u"Could not open file %1: No such file or directory"_s.arg(missing));
        QTest::qWait(100);
        QVERIFY(device.received().isEmpty());
        QCOMPARE(run.completions, 0); // sendFile alone does not end a run
    }
};

QTEST_GUILESS_MAIN(TestSequencing)
#include "tst_sequencing.moc"
