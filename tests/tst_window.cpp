// The window, loaded from the program's own resource "qrc:/main.qml" with QTftp registered as
// start-up registers it: its states, its bindings to the updater and whole runs through it.
// The settings store lies in a temporary folder set up in main(), before the application object
// exists, so the user's own settings are never touched. Devices run on 127.0.0.1 only.

#include "networkinterfaces.h"
#include "qtftp.h"
#include "support/loadedwindow.h"
#include "support/scripteddevice.h"
#include "support/testsupport.h"
#include "support/tftpdserver.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {

QString isolatedConfigDir;

// The files of folder, oldest last write first (nanoseconds: the uploads follow each other
// within milliseconds).
QStringList namesByWriteTime(const QString &folder)
{
    QList<std::pair<qint64, QString>> files;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        struct stat info
        {
        };
        if (::stat(QFile::encodeName(QDir(folder).filePath(name)).constData(), &info) == 0)
            files.append({qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, name});
    }
    std::sort(files.begin(), files.end());
    QStringList names;
    for (const auto &file : files)
        names.append(file.second);
    return names;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    // A run of folder to the device at port, through the window; the failure, or an empty text.
    static QString runThroughWindow(const LoadedWindow &window, quint16 port, const QString &folder)
    {
        window.updater()->setReplyTimeoutForTesting(3000);
        if (!window.prepareRun(port, folder))
            return u"the folder dialog did not take "_s + folder;
        QSignalSpy completed(window.updater(), &QTftp::updateCompleted);
        window.pressStart();
        return completed.wait(30000) ? QString() : u"the run did not end within 30 s"_s;
    }

private slots:
    void init() { clearSettings(); }

    void settingsAreIsolated()
    {
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        window.typeAddress(u"127.0.0.1"_s);
        CHECK_OK(settingsOutside(isolatedConfigDir));
    }

    void initialState()
    {
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        QVERIFY(window.window()->isVisible());
        QCOMPARE(window.window()->title(), u"Tessaline Transmitter Update Tool"_s);
        QCOMPARE(window.window()->size(), QSize(640, 280));
        QCOMPARE(window.value(u"gridLayout"_s, "visible").toBool(), false);
        QCOMPARE(window.value(u"statusLabel"_s, "text").toString(), u"Open a folder to begin"_s);
        QCOMPARE(window.value(u"progressBar"_s, "from").toDouble(), 0.0);
        QCOMPARE(window.value(u"progressBar"_s, "to").toDouble(), 1.0);
        QCOMPARE(window.value(u"progressBar"_s, "value").toDouble(), 0.0);
        QCOMPARE(window.value(u"selectedFolderLabel"_s, "text").toString(), QString());
        QCOMPARE(window.value(u"addressField"_s, "text").toString(), QString());
        QString why;
        QVERIFY2(window.controlsEnabled(true, &why), qPrintable(why));
    }

    void nothingRememberedSelectsFirstEntry()
    {
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        const QStringList entries = window.updater()->ifsList();
        QVERIFY2(!entries.isEmpty(), "this machine lists no interface entry");
        QCOMPARE(window.value(u"interfaceList"_s, "currentIndex").toInt(), 0);
        const QStringList parts = entries.first().split(interfaceEntrySeparator);
        QCOMPARE(window.updater()->localAddress(), parts.value(1));
        QCOMPARE(window.updater()->loadNetoworkIf(),
                 systemNameOf(systemInterfaces(), parts.value(0)));
        QVERIFY(!window.updater()->loadNetoworkIf().isEmpty());
        // No address remembered: the field stays empty, and its handler wrote nothing.
        QVERIFY(!QSettings().contains(u"savedAddress"_s));
        QCOMPARE(window.updater()->remoteAddress(), QString());
    }

    void rememberedValuesFillTheForm()
    {
        QSettings().setValue(u"savedInterface"_s, u"lo"_s);
        QSettings().setValue(u"savedAddress"_s, u"127.0.0.1"_s);
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        const int loopback = int(window.updater()->ifsList().indexOf(loopbackEntry()));
        QVERIFY2(loopback >= 0, qPrintable(window.updater()->ifsList().join(u" | "_s)));
        QCOMPARE(window.value(u"interfaceList"_s, "currentIndex").toInt(), loopback);
        QCOMPARE(window.updater()->localAddress(), u"127.0.0.1"_s);
        QCOMPARE(window.updater()->loadNetoworkIf(), u"lo"_s);
        // The remembered address fills the field and becomes remoteAddress without typing.
        QCOMPARE(window.value(u"addressField"_s, "text").toString(), u"127.0.0.1"_s);
        QCOMPARE(window.updater()->remoteAddress(), u"127.0.0.1"_s);
        QCOMPARE(window.updater()->loadNetworkAddr(), u"127.0.0.1"_s);
    }

    void typedAddressIsRememberedAndUsed()
    {
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        QSignalSpy remoteChanges(window.updater(), &QTftp::remoteAddressChanged);
        const QString typed = u"tx-7380.local"_s;
        for (qsizetype length = 1; length <= typed.size(); ++length)
            window.typeAddress(typed.left(length));
        QCOMPARE(remoteChanges.size(), typed.size());
        QCOMPARE(window.updater()->remoteAddress(), typed);
        QCOMPARE(window.updater()->loadNetworkAddr(), typed);
    }

    void acceptedFolderShowsUrlAndForm()
    {
        QTemporaryDir folder;
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        QVERIFY(window.acceptFolder(folder.path()));
        const QString urlText = QUrl::fromLocalFile(folder.path()).toString();
        QVERIFY(urlText.startsWith(u"file://"_s));
        QCOMPARE(window.value(u"selectedFolderLabel"_s, "text").toString(), urlText);
        QCOMPARE(window.value(u"gridLayout"_s, "visible").toBool(), true);
        QString why;
        QVERIFY2(window.controlsEnabled(true, &why), qPrintable(why));
    }

    void runDisablesControlsUntilCompleted()
    {
        // A device that never answers keeps the run going until the (shortened) wait ends.
        ScriptedDevice silentDevice;
        QVERIFY2(silentDevice.isReady(), qPrintable(silentDevice.errorString()));
        QTemporaryDir folder;
        CHECK_OK(writeFiles(folder.path(), {u"7380-v1.2.bin"_s}));
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        window.updater()->setReplyTimeoutForTesting(1500);
        QVERIFY(window.prepareRun(silentDevice.port(), folder.path()));
        const int loopback = window.value(u"interfaceList"_s, "currentIndex").toInt();
        QCOMPARE(window.updater()->ifsList().value(loopback), loopbackEntry());
        const QString urlText = window.value(u"selectedFolderLabel"_s, "text").toString();

        QSignalSpy completed(window.updater(), &QTftp::updateCompleted);
        QSignalSpy quitRequests(&window.engine, &QQmlEngine::quit);
        window.pressStart();
        QString why;
        QVERIFY2(window.controlsEnabled(false, &why), qPrintable(why));
        QCOMPARE(completed.size(), 0);

        // Quiet while running: no quit, no folder dialog, no closing.
        window.trigger(u"quitAction"_s);
        window.trigger(u"openAction"_s);
        QCoreApplication::processEvents();
        QCOMPARE(quitRequests.size(), 0);
        QCOMPARE(window.value(u"openDialog"_s, "visible").toBool(), false);
        QVERIFY(!window.window()->close());
        QVERIFY(window.window()->isVisible());

        QVERIFY(completed.wait(10000));
        QVERIFY2(window.controlsEnabled(true, &why), qPrintable(why));
        QVERIFY2(window.value(u"statusLabel"_s, "text").toString().startsWith(u"No message"_s),
                 qPrintable(window.value(u"statusLabel"_s, "text").toString()));
        // The form stays as it was.
        QCOMPARE(window.value(u"gridLayout"_s, "visible").toBool(), true);
        QCOMPARE(window.value(u"selectedFolderLabel"_s, "text").toString(), urlText);
        QCOMPARE(window.value(u"addressField"_s, "text").toString(), u"127.0.0.1"_s);
        QCOMPARE(window.value(u"interfaceList"_s, "currentIndex").toInt(), loopback);

        // Once the run is over the actions work again.
        window.trigger(u"quitAction"_s);
        QCOMPARE(quitRequests.size(), 1);
        QVERIFY(window.window()->close());
    }

    void updateThroughWindowToTftpd()
    {
        TftpdServer device;
        QVERIFY2(device.start(), qPrintable(device.errorString()));
        QTemporaryDir folder;
        const QStringList expectedOrder {u"7380-X-v1.2.bin"_s, u"7380-v1.2.bin"_s,
                                         u"7380KD-v1.0.bin"_s, u"7465-v3.1.bin"_s};
        const QHash<QString, QByteArray> sent = firmwareContents(expectedOrder);
        CHECK_OK(writeFiles(folder.path(), sent));
        CHECK_OK(writeFiles(folder.path(), {u"readme.txt"_s}));
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        CHECK_OK(runThroughWindow(window, device.port(), folder.path()));
        QCOMPARE(window.value(u"statusLabel"_s, "text").toString(), u"No Error"_s);
        QString why;
        QVERIFY2(window.controlsEnabled(true, &why), qPrintable(why));

        QVERIFY2(device.waitForFile(u"done"_s, 0), qPrintable(device.errorString()));
        QCOMPARE(namesByWriteTime(device.directory()), expectedOrder + QStringList {u"done"_s});
        for (const QString &name : expectedOrder)
            QVERIFY2(device.receivedFile(name) == sent.value(name), qPrintable(name));
        // The bar ends full: the progress counts packet headers too.
        QVERIFY(window.value(u"progressBar"_s, "value").toDouble()
                >= window.value(u"progressBar"_s, "to").toDouble());
    }

    void deviceErrorEndsRunOnStatusLine()
    {
        // The device takes only the files on its list: another name gets ERROR 2.
        ScriptedDevice device;
        QVERIFY2(device.isReady(), qPrintable(device.errorString()));
        device.setFallback([](const ScriptedDevice::Received &got) {
            const QString name = ScriptedDevice::requestedName(got);
            if (got.opcode() == 2 && name != u"7380-v1.2.bin"_s && name != u"done"_s)
                return ScriptedDevice::Step {ScriptedDevice::error(2, "File not on the list")};
            return ScriptedDevice::acknowledgement(got);
        });
        QTemporaryDir folder;
        CHECK_OK(
            writeFiles(folder.path(), firmwareContents({u"7380-v1.2.bin"_s, u"7465-v3.1.bin"_s})));
        LoadedWindow window;
        QVERIFY(window.isLoaded());
        CHECK_OK(runThroughWindow(window, device.port(), folder.path()));
        QCOMPARE(window.value(u"statusLabel"_s, "text").toString(),
                 u"Protocol Error: 2 File not on the list"_s);
        QCOMPARE(device.requestedNames(), (QStringList {u"7380-v1.2.bin"_s, u"7465-v3.1.bin"_s}));
        QString why;
        QVERIFY2(window.controlsEnabled(true, &why), qPrintable(why));
        QCOMPARE(window.value(u"gridLayout"_s, "visible").toBool(), true);
    }
};

int main(int argc, char *argv[])
{
    // Before the application object exists, so QSettings never sees the user's own folder.
    QTemporaryDir configDir;
    if (!configDir.isValid())
        return 2;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    isolatedConfigDir = QDir(configDir.path()).canonicalPath();

    QGuiApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false); // the tests close windows; the run goes on
    setUpAsTheProgramDoes();
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
