// The update run: every listed file in order, then the empty "done", one updateCompleted per run;
// against tftpd-hpa and against a scripted device that fails where a test wants.
#include "qtftp.h"
#include "support/scripteddevice.h"
#include "support/testsupport.h"
#include "support/tftpdserver.h"

#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {
// One file per name pattern, in the order a run sends them.
const QStringList firmwareNames {u"7380-X-v1.bin"_s, u"7381-v2.bin"_s, u"7380KD-v3.bin"_s,
                                 u"7465-v4.bin"_s};

// The run as the window sees it: the status texts and, at each updateCompleted, the status.
struct RunRecord
{
    explicit RunRecord(QTftp &tftp)
    {
        QObject::connect(&tftp, &QTftp::errorStringChanged, &tftp,
                         [this](const QString &status) { statuses.append(status); });
        QObject::connect(&tftp, &QTftp::updateCompleted, &tftp,
                         [this, &tftp] { statusesAtCompletion.append(tftp.errorString()); });
    }
    // Waits for the end of the run, then a little longer for a second, unwanted updateCompleted.
    bool waitForEnd()
    {
        const bool ended
            = QTest::qWaitFor([this] { return !statusesAtCompletion.isEmpty(); }, 60000);
        QTest::qWait(100);
        return ended;
    }
    [[nodiscard]] QStringList sentNames() const
    {
        QStringList names;
        for (const QString &status : statuses) {
            if (status.startsWith(u"Sending file "_s))
                names.append(status.mid(13));
        }
        return names;
    }

    QStringList statuses;
    QStringList statusesAtCompletion;
};

} // namespace

class TestSequencing : public QObject
{
    Q_OBJECT

public:
    static void initMain() { useTestSettings(); }

private slots:
    void initTestCase() { CHECK_OK(testSettingsProblem()); }

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
        QTemporaryDir folder;
        const QStringList names = firmwareNames.first(fileCount);
        const QHash<QString, QByteArray> contents = firmwareContents(names);
        CHECK_OK(writeFiles(folder.path(), contents));
        QTftp tftp;
        pointAt(tftp, server.port());
        RunRecord run(tftp);

        tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
        QTest::ignoreMessage(QtDebugMsg, "Starting the update");
        tftp.startUpdate();
        QVERIFY(run.waitForEnd());

        QCOMPARE(run.statusesAtCompletion, QStringList {u"No Error"_s});
        QCOMPARE(tftp.currentFileIndex(), fileCount + 1);
        QCOMPARE(run.sentNames(), names + QStringList {u"done"_s});
        for (const QString &name : names) {
            QVERIFY2(server.waitForFile(name, contents.value(name).size()), qPrintable(name));
            QVERIFY2(server.receivedFile(name) == contents.value(name), qPrintable(name));
        }
        QVERIFY(server.waitForFile(u"done"_s, 0));
        QCOMPARE(server.receivedFileNames().size(), fileCount + 1);
    }

    void scriptedRun_data()
    {
        QTest::addColumn<QString>("failingName"); // the device answers its request with opcode 9
        QTest::addColumn<int>("deletedEntry"); // removed between listing and sending; -1: none
        QTest::addColumn<int>("sent"); // write requests the device receives
        QTest::addColumn<int>("index"); // fileIndex at the end: the failing entry
        QTest::addColumn<QString>("status"); // %1: the deleted file
        QTest::addRow("good files, then done") << QString() << -1 << 5 << 5 << u"No Error"_s;
        const QStringList entries = firmwareNames + QStringList {u"done"_s};
        for (int entry = 0; entry < entries.size(); ++entry) {
            // The status at updateCompleted is already the failed upload's message.
            QTest::addRow("failure at entry %d", entry)
                << entries.at(entry) << -1 << entry + 1 << entry << u"Unknown Op Code: 9"_s;
        }
        QTest::addRow("file deleted after listing")
            << QString() << 1 << 1 << 1 << u"Could not open file %1: No such file or directory"_s;
    }

    void scriptedRun()
    {
        QFETCH(QString, failingName);
        QFETCH(int, deletedEntry);
        QFETCH(int, sent);
        QFETCH(int, index);
        QFETCH(QString, status);
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setFallback([failingName](const ScriptedDevice::Received &got) {
            if (got.opcode() == 2 && ScriptedDevice::requestedName(got) == failingName)
                return ScriptedDevice::Step {ScriptedDevice::raw(ScriptedDevice::packet(9, 0))};
            return ScriptedDevice::acknowledgement(got);
        });
        QTemporaryDir folder;
        const QHash<QString, QByteArray> contents = firmwareContents(firmwareNames);
        CHECK_OK(writeFiles(folder.path(), contents));
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run(tftp);

        tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
        if (deletedEntry >= 0) {
            const QString deleted = folder.filePath(firmwareNames.at(deletedEntry));
            QVERIFY(QFile::remove(deleted));
            status = status.arg(deleted);
        }
        tftp.startUpdate();
        QVERIFY(run.waitForEnd());

        const QStringList expected = (firmwareNames + QStringList {u"done"_s}).first(sent);
        QCOMPARE(device.requestedNames(), expected);
        QCOMPARE(run.statusesAtCompletion, QStringList {status});
        QCOMPARE(tftp.currentFileIndex(), index);
        QByteArray delivered;
        for (const QString &name : expected) {
            if (name != failingName)
                delivered += contents.value(name);
        }
        QVERIFY(device.receivedData() == delivered);
    }

    void tooLargeFileIsRefusedBeforeAnything()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setAcknowledgeRest(true);
        QTemporaryDir folder;
        const QString path = folder.filePath(u"7380-v9.bin"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(65535) * 512)); // sparse: one byte more than a transfer holds
        file.close();
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run(tftp);

        tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
        tftp.startUpdate();
        QVERIFY(run.waitForEnd());

        QVERIFY(device.received().isEmpty());
        QCOMPARE(tftp.currentFileIndex(), 0);
        QCOMPARE(run.statusesAtCompletion.size(), 1);
        const QString status = run.statusesAtCompletion.constFirst();
        QVERIFY2(status.contains(path) && status.contains(u"33553919"_s), qPrintable(status));
    }

    void sendFileWithEndMarkerTouchesNoFile()
    {
        // A file named "done" in the working folder must not be read: the end marker is empty.
        QTemporaryDir folder;
        CHECK_OK(writeFiles(folder.path(), {u"done"_s}));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setAcknowledgeRest(true);
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run(tftp);

        const bool started = tftp.sendFile(QUrl(u"done"_s, QUrl::TolerantMode));
        const bool ended = run.waitForEnd();
        QDir::setCurrent(previous);
        QVERIFY(started);
        QVERIFY(ended);
        QCOMPARE(device.received().size(), 2);
        QCOMPARE(device.received().at(0).bytes, QTftp::buildWriteRequest(u"done"_s, {}));
        QCOMPARE(device.received().at(1).bytes, QByteArray::fromHex("00030001"));
        // Outside a run the upload still counts as a step of one: index 1, beyond the empty list.
        QCOMPARE(tftp.currentFileIndex(), 1);
        QCOMPARE(run.statusesAtCompletion.size(), 1);
    }

    void sendFileThatCannotBeOpened()
    {
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        QTemporaryDir folder;
        QTftp tftp;
        pointAt(tftp, device.port());
        RunRecord run(tftp);
        const QString missing = folder.filePath(u"7380-v1.bin"_s);

        QVERIFY(!tftp.sendFile(QUrl::fromLocalFile(missing)));
        QCOMPARE(tftp.errorString(),
                 u"Could not open file %1: No such file or directory"_s.arg(missing));
        QTest::qWait(100);
        QVERIFY(device.received().isEmpty());
        QVERIFY(run.statusesAtCompletion.isEmpty()); // sendFile alone does not end a run
    }
};

QTEST_GUILESS_MAIN(TestSequencing)
#include "tst_sequencing.moc"
