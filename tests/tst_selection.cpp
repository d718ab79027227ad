#include "fileselection.h"
#include "qtftp.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {

// The entries that a listing of folder should give for names, in that order.
QStringList entriesFor(const QString &folder, const QStringList &names)
{
    const QString folderText = QUrl::fromLocalFile(folder).toString();
    QStringList entries;
    for (const QString &name : names)
        entries.append(folderText + u'/' + name);
    return entries;
}

QStringList listFolder(const QString &folder)
{
    QTftp tftp;
    tftp.buildFileList(QUrl::fromLocalFile(folder));
    return tftp.firmwareList();
}

// Debug lines written while a listing runs.
QStringList capturedLines;
void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        capturedLines.append(message);
}

} // namespace

class TestSelection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // Which files, in which order
    void selection_data();
    void selection();
    void folderNotThere();
    void notALocalFileUrl();
    void callingTwice();
    void debugLog();

    // Entries that name exactly their file
    void entryText_data();
    void entryText();
    void encodedNameDoesNotMeetItsDecodedTwin();
};

void TestSelection::initTestCase()
{
    useTestSettings();
    CHECK_OK(testSettingsProblem());
}

void TestSelection::selection_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expected");

    QTest::addRow("empty folder") << QStringList() << QStringList();
    QTest::addRow("nothing matches")
        << QStringList {u"readme.txt"_s, u"7390-v1.bin"_s, u"7380-w1.bin"_s, u"7380KX-v1.bin"_s}
        << QStringList();
    QTest::addRow("pattern order beats name order")
        << QStringList {u"a-7461-v1.bin"_s, u"b-7380KD-v1.bin"_s, u"c-7380-v1.bin"_s,
                        u"d-7380-X-v1.bin"_s}
        << QStringList {u"d-7380-X-v1.bin"_s, u"c-7380-v1.bin"_s, u"b-7380KD-v1.bin"_s,
                        u"a-7461-v1.bin"_s};
    QTest::addRow("every pattern in its place")
        << QStringList {u"7465-v1.bin"_s,   u"7382KS-v1.bin"_s, u"7381KP-v1.bin"_s,
                        u"7380KN-v1.bin"_s, u"7382KM-v1.bin"_s, u"7381KH-v1.bin"_s,
                        u"7380KF-v1.bin"_s, u"7382KD-v1.bin"_s, u"7381-v1.bin"_s,
                        u"7380-X-v1.bin"_s}
        << QStringList {u"7380-X-v1.bin"_s, u"7381-v1.bin"_s,   u"7382KD-v1.bin"_s,
                        u"7380KF-v1.bin"_s, u"7381KH-v1.bin"_s, u"7382KM-v1.bin"_s,
                        u"7380KN-v1.bin"_s, u"7381KP-v1.bin"_s, u"7382KS-v1.bin"_s,
                        u"7465-v1.bin"_s};
    QTest::addRow("patterns match with case")
        << QStringList {u"7380-v1.BIN"_s, u"7380-V1.bin"_s, u"7380-x-v1.bin"_s, u"7380kd-v1.bin"_s,
                        u"7380-v2.bin"_s}
        << QStringList {u"7380-v2.bin"_s};
    QTest::addRow("listing order ignores case")
        << QStringList {u"B-7380-v1.bin"_s, u"a-7380-v1.bin"_s, u"c-7380-v1.bin"_s}
        << QStringList {u"a-7380-v1.bin"_s, u"B-7380-v1.bin"_s, u"c-7380-v1.bin"_s};
    QTest::addRow("versions compared as text") << QStringList {u"7380-v9.bin"_s, u"7380-v10.bin"_s}
                                               << QStringList {u"7380-v10.bin"_s, u"7380-v9.bin"_s};
    QTest::addRow("pattern 10 takes 1 or 5")
        << QStringList {u"7460-v1.bin"_s, u"7461-v1.bin"_s, u"7462-v1.bin"_s, u"7463-v1.bin"_s,
                        u"7464-v1.bin"_s, u"7465-v1.bin"_s, u"7466-v1.bin"_s}
        << QStringList {u"7461-v1.bin"_s, u"7465-v1.bin"_s};
    QTest::addRow("model digit 0 to 2 only")
        << QStringList {u"7383-v1.bin"_s, u"7380-v1.bin"_s, u"7382-v1.bin"_s, u"7389KD-v1.bin"_s}
        << QStringList {u"7380-v1.bin"_s, u"7382-v1.bin"_s};
    QTest::addRow("hidden files and subfolders left out")
        << QStringList {u"7381-v1.bin/"_s, u"older/7382-v1.bin"_s, u".7380-v1.bin"_s,
                        u"7380-v2.bin"_s}
        << QStringList {u"7380-v2.bin"_s};
    QTest::addRow("name goes on after .bin")
        << QStringList {u"7380-v1.bin.bak"_s, u"7380-v2.bi"_s, u"7380-v3.binary"_s,
                        u"old-7381-v1-final.bin~"_s}
        << QStringList {u"7380-v1.bin.bak"_s, u"7380-v3.binary"_s, u"old-7381-v1-final.bin~"_s};
    QTest::addRow("dot before bin is literal")
        << QStringList {u"7380-v1xbin"_s, u"7380-v1.bin"_s} << QStringList {u"7380-v1.bin"_s};
    QTest::addRow("name matched by two patterns listed twice")
        << QStringList {u"7380-X-v1-7461-v1.bin"_s}
        << QStringList {u"7380-X-v1-7461-v1.bin"_s, u"7380-X-v1-7461-v1.bin"_s};
}

void TestSelection::selection()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);

    QTemporaryDir folder;
    // "name/" is a folder, "folder/name" a file in a subfolder.
    for (const QString &file : std::as_const(files)) {
        if (file.contains(u'/'))
            QVERIFY(QDir(folder.path()).mkpath(file.section(u'/', 0, 0)));
    }
    files.removeIf([](const QString &file) { return file.endsWith(u'/'); });
    CHECK_OK(writeFiles(folder.path(), files));

    QCOMPARE(listFolder(folder.path()), entriesFor(folder.path(), expected));
}

void TestSelection::folderNotThere()
{
    QTemporaryDir parent;
    QTftp tftp;
    QTest::ignoreMessage(QtDebugMsg, "QList()");
    QTest::ignoreMessage(QtDebugMsg, "dsda");
    tftp.buildFileList(QUrl::fromLocalFile(parent.filePath(u"gone"_s)));
    QCOMPARE(tftp.firmwareList(), QStringList());
}

void TestSelection::notALocalFileUrl()
{
    // No local path: the directory object stands for the working directory, which is listed.
    QTemporaryDir folder;
    CHECK_OK(writeFiles(folder.path(), {u"7380-v1.bin"_s, u"notes.txt"_s}));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    QTftp tftp;
    const QUrl remote(u"https://example.invalid/firmware"_s);
    tftp.buildFileList(remote);
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(tftp.firmwareList(), QStringList {remote.toString() + u"/7380-v1.bin"_s});
}

void TestSelection::callingTwice()
{
    QTemporaryDir folder;
    CHECK_OK(
        writeFiles(folder.path(),
                   QStringList {u"7381-X-vA.bin"_s, u"7380-V-wrong.bin"_s, u"Old-7382-v9.BIN.bin"_s,
                                u"7381KD-v1.bin"_s, u"7465-v1.bin"_s}));

    QTftp tftp;
    const qsizetype recordedBefore = QTftp::errorTolerantFiles.size();
    tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
    const QStringList first = tftp.firmwareList();
    tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
    QCOMPARE(tftp.firmwareList(), first);
    QCOMPARE(first,
             entriesFor(folder.path(),
                        {u"7381-X-vA.bin"_s, u"Old-7382-v9.BIN.bin"_s, u"7381KD-v1.bin"_s,
                         u"7465-v1.bin"_s}));

    // The primary names only, in lower case, once per listing; never removed.
    const QStringList primaryLower = {u"7381-x-va.bin"_s, u"old-7382-v9.bin.bin"_s};
    QCOMPARE(QTftp::errorTolerantFiles.mid(recordedBefore), primaryLower + primaryLower);

    // Another object shares the same list.
    QTftp other;
    other.buildFileList(QUrl::fromLocalFile(folder.path()));
    QCOMPARE(QTftp::errorTolerantFiles.mid(recordedBefore),
             primaryLower + primaryLower + primaryLower);
}

void TestSelection::debugLog()
{
    QTemporaryDir folder;
    CHECK_OK(writeFiles(folder.path(), {u"7465-v1.bin"_s, u"7380-v1.bin"_s}));
    const QStringList entries = entriesFor(folder.path(), {u"7380-v1.bin"_s, u"7465-v1.bin"_s});

    QTftp tftp;
    capturedLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
    qInstallMessageHandler(previous);

    const QString listLine = u"QList(\"%1\", \"%2\")"_s.arg(entries.at(0), entries.at(1));
    QCOMPARE(capturedLines, (QStringList {listLine, u"dsda"_s}));
}

void TestSelection::entryText_data()
{
    QTest::addColumn<QString>("folderName");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("plainText"); // the entry is the folder URL's text, "/" and the name

    const QStringList ordinaryNames = {
        u"7380-v1.bin"_s,       u"Model 7380-v1.2_final copy.bin"_s,
        u"  7380-v1  .bin"_s,   u"7465-v10.bin.bak"_s,
        u"Größe 7380-v1.bin"_s,
    };
    // Each selected by pattern 2; the characters around it are the point.
    const QStringList specialNames = {
        u"7380-v1#2.bin"_s,        u"7380-v1?x=2.bin"_s,  u"7380-v1%.bin"_s,
        u"7380-v1%20x.bin"_s,      u"7380-v1%25.bin"_s,   u"7380-v1%zz.bin"_s,
        u"7380-v1%2F..%2Fx.bin"_s, u"7380-v1 a  b.bin"_s, u"7380-v1 Grüße ñ 日本.bin"_s,
        u"7380-v1[2].bin"_s,       u"7380-v1;a.bin"_s,    u"7380-v1&a.bin"_s,
        u"7380-v1+a.bin"_s,        u"7380-v1=a.bin"_s,    u"7380-v1@a.bin"_s,
        u"7380-v1\\a.bin"_s,       u"7380-v1:a.bin"_s,    u"7380-v1'\"<>{}|^`.bin"_s,
        u"#7380-v1.bin"_s,         u"?7380-v1.bin"_s,     u"%7380-v1.bin"_s,
        u"7380-v1.bin#"_s,
    };
    const QStringList ordinaryFolders = {u"plain"_s, u"with blanks"_s, u"Größe_2-b.c"_s};
    const QStringList specialFolders = {u"a#b?c%d%20e%25f g"_s, u"Größe [1];&+=@\\"_s};
    for (const QString &folderName : ordinaryFolders + specialFolders) {
        for (const QString &fileName : ordinaryNames + specialNames)
            QTest::addRow("%s in %s", qPrintable(fileName), qPrintable(folderName))
                << folderName << fileName
                << (ordinaryFolders.contains(folderName) && ordinaryNames.contains(fileName));
    }
}

void TestSelection::entryText()
{
    QFETCH(QString, folderName);
    QFETCH(QString, fileName);
    QFETCH(bool, plainText);

    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkdir(folderName));
    const QString folderPath = QDir(root.path()).filePath(folderName);
    CHECK_OK(writeFiles(folderPath, QStringList {fileName}));

    const QStringList entries = listFolder(folderPath);
    QCOMPARE(entries.size(), 1);
    const QString &entry = entries.constFirst();
    QVERIFY(entry.startsWith(u"file:///"_s));
    if (plainText)
        QCOMPARE(entry, entriesFor(folderPath, {fileName}).constFirst());
    // Read back the way a run reads it.
    const QUrl parsed(entry, QUrl::TolerantMode);
    QVERIFY2(parsed.isValid(), qPrintable(parsed.errorString()));
    QCOMPARE(parsed.toLocalFile(), QDir(folderPath).filePath(fileName));
    QCOMPARE(parsed.fileName(QUrl::FullyDecoded), fileName);
    QVERIFY(!parsed.hasQuery());
    QVERIFY(!parsed.hasFragment());
    // What the helper gives for this pair is what the listing holds.
    QCOMPARE(firmwareEntry(QUrl::fromLocalFile(folderPath), fileName), entry);
}

void TestSelection::encodedNameDoesNotMeetItsDecodedTwin()
{
    // "%20" in a name must not turn into the blank of its neighbour.
    QTemporaryDir folder;
    CHECK_OK(writeFiles(folder.path(), {u"7380-v1 x.bin"_s, u"7380-v1%20x.bin"_s}));
    const QStringList entries = listFolder(folder.path());
    QCOMPARE(entries.size(), 2);
    QStringList files;
    for (const QString &entry : entries)
        files.append(QUrl(entry, QUrl::TolerantMode).toLocalFile());
    QCOMPARE(files,
             (QStringList {QDir(folder.path()).filePath(u"7380-v1 x.bin"_s),
                           QDir(folder.path()).filePath(u"7380-v1%20x.bin"_s)}));
    // The ordinary one keeps its plain text.
    QCOMPARE(entries.constFirst(), entriesFor(folder.path(), {u"7380-v1 x.bin"_s}).constFirst());
}

QTEST_GUILESS_MAIN(TestSelection)
#include "tst_selection.moc"
