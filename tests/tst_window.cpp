// The window, loaded from the program's own resource "qrc:/main.qml" with QTftp registered as
// start-up registers it: its states, its bindings to the updater and whole runs through it.
//
// The settings store lies in a temporary folder, set up in main() before the application object
// exists, so the user's own settings are never touched. Devices run on 127.0.0.1 only.

#include "networkinterfaces.h"
#include "qtftp.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <sys/stat.h>

#include "support/tftpdserver.h"

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QString isolatedConfigDir;

// The window as the program loads it, with the items the tests reach.
class LoadedWindow
{
public:
    LoadedWindow() { engine.load(QUrl(u"qrc:/main.qml"_s)); }

    [[nodiscard]] bool isLoaded() const { return !engine.rootObjects().isEmpty(); }
    [[nodiscard]] QQuickWindow *window() const
    {
        return qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    }
    [[nodiscard]] QObject *item(const QString &name) const
    {
        QObject *root = engine.rootObjects().value(0);
        return root ? root->findChild<QObject *>(name) : nullptr;
    }
    [[nodiscard]] QVariant value(const QString &name, const char *property) const
    {
        QObject *object = item(name);
        return object ? object->property(property) : QVariant();
    }
    [[nodiscard]] QTftp *updater() const { return qobject_cast<QTftp *>(item(u"qtftp"_s)); }

    // The user opens the folder dialog, picks the folder and accepts it.
    [[nodiscard]] bool acceptFolder(const QString &path) const
    {
        QObject *dialog = item(u"openDialog"_s);
        QMetaObject::invokeMethod(item(u"openAction"_s), "trigger");
        if (!QTest::qWaitFor([dialog] { return dialog->property("visible").toBool(); }, 5000))
            return false;
        dialog->setProperty("selectedFolder", QUrl::fromLocalFile(path));
        QMetaObject::invokeMethod(dialog, "accept");
        return !dialog->property("visible").toBool();
    }
    void pressStart() const { QMetaObject::invokeMethod(item(u"startButton"_s), "clicked"); }
    void chooseInterfaceEntry(int index) const
    {
        item(u"interfaceList"_s)->setProperty("currentIndex", index);
    }
    void typeAddress(const QString &text) const
    {
        item(u"addressField"_s)->setProperty("text", text);
    }
    // True when the toolbar, the form and the three actions are all enabled as wanted.
    [[nodiscard]] bool controlsEnabled(bool enabled, QString *why) const
    {
        for (const QString &name :
             {u"toolBar"_s, u"gridLayout"_s, u"openAction"_s, u"aboutAction"_s, u"quitAction"_s,
              u"startButton"_s, u"openButton"_s, u"quitButton"_s}) {
            if (value(name, "enabled").toBool() != enabled) {
                *why = u"%1 is %2"_s.arg(name, enabled ? u"disabled"_s : u"enabled"_s);
                return false;
            }
        }
        return true;
    }

    QQmlApplicationEngine engine;
};

// A device that takes only the files on its list: a write request for another name gets
// ERROR 2. It records the names requested, in order, and answers in the test's thread.
class ListingDevice
{
public:
    explicit ListingDevice(QStringList accepted)
        : m_accepted(std::move(accepted))
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] { answer(); });
    }
    [[nodiscard]] quint16 port() const { return m_socket.localPort(); }
    [[nodiscard]] QStringList requested() const { return m_requested; }

private:
    static QByteArray packet(quint16 opcode, quint16 number)
    {
        QByteArray bytes;
        for (quint16 half : {opcode, number})
            bytes.append(char(half >> 8)).append(char(half & 0xff));
        return bytes;
    }
    void answer()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram got = m_socket.receiveDatagram();
            const QByteArray bytes = got.data();
            if (bytes.size() < 4)
                continue;
            const quint16 opcode = quint16((uchar(bytes[0]) << 8) | uchar(bytes[1]));
            QByteArray reply;
            if (opcode == 2) { // write request: name, 0, mode, 0, options
                const QString name = QString::fromLatin1(bytes.mid(2).split('\0').value(0));
                m_requested.append(name);
                if (m_accepted.contains(name))
                    reply = packet(4, 0);
                else
                    reply = packet(5, 2) + QByteArrayLiteral("File not on the list") + '\0';
            } else if (opcode == 3) { // DATA n: ACK n
                reply = packet(4, quint16((uchar(bytes[2]) << 8) | uchar(bytes[3])));
            }
            if (!reply.isEmpty())
                m_socket.writeDatagram(reply, got.senderAddress(), quint16(got.senderPort()));
        }
    }

    QUdpSocket m_socket;
    QStringList m_accepted;
    QStringList m_requested;
};

void clearSettings()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}

QString loopbackEntry()
{
    return QNetworkInterface::interfaceFromName(u"lo"_s).humanReadableName() + u" -- 127.0.0.1"_s;
}

// Writes firmware files of the given sizes into folder; returns their contents by name.
QHash<QString, QByteArray> writeFirmware(const QString &folder,
                                         const QList<std::pair<QString, int>> &files)
{
    QHash<QString, QByteArray> written;
    for (const auto &[name, size] : files) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(QRandomGenerator::global()->bounded(256));
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        written.insert(name, bytes);
    }
    return written;
}

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

private slots:
    void init() { clearSettings(); }

    // States and bindings.
    void settingsAreIsolated();
    void initialState();
    void nothingRememberedSelectsFirstEntry();
    void rememberedInterfaceIsSelected();
    void rememberedAddressBecomesRemoteAddress();
    void typedAddressIsRememberedAndUsed();
    void acceptedFolderShowsUrlAndForm();
    void runDisablesControlsUntilCompleted();

    // Whole runs through the window.
    void updateThroughWindowToTftpd();
    void deviceErrorEndsRunOnStatusLine();
};

void TestWindow::settingsAreIsolated()
{
    LoadedWindow window;
    QVERIFY(window.isLoaded());
    window.typeAddress(u"127.0.0.1"_s);
    const QString file = QSettings().fileName();
    QVERIFY2(file.startsWith(isolatedConfigDir + u'/'),
             qPrintable(u"settings file outside the temporary folder: "_s + file));
    QVERIFY2(QFile::exists(file), qPrintable(u"no settings file at "_s + file));
}

void TestWindow::initialState()
{
    LoadedWindow window;
    QVERIFY(window.isLoaded());
    QVERIFY(window.window()->isVisible());
    QCOMPARE(window.window()->title(), u"Tessaline Transmitter Update Tool"_s);
    QCOMPARE(window.window()->width(), 640);
    QCOMPARE(window.window()->height(), 280);
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

void TestWindow::nothingRememberedSelectsFirstEntry()
{
    LoadedWindow window;
    QVERIFY(window.isLoaded());
    const QStringList entries = window.updater()->ifsList();
    QVERIFY2(!entries.isEmpty(), "this machine lists no interface entry");
    QCOMPARE(window.value(u"interfaceList"_s, "currentIndex").toInt(), 0);

    const QStringList parts = entries.first().split(interfaceEntrySeparator);
    QCOMPARE(window.updater()->localAddress(), parts.value(1));
    QCOMPARE(window.updater()->loadNetoworkIf(), systemNameOf(systemInterfaces(), parts.value(0)));
    QVERIFY(!window.updater()->loadNetoworkIf().isEmpty());
    // No address remembered: the field stays empty, and its handler wrote nothing.
    QVERIFY(!QSettings().contains(u"savedAddress"_s));
    QCOMPARE(window.updater()->remoteAddress(), QString());
}

void TestWindow::rememberedInterfaceIsSelected()
{
    QSettings().setValue(u"savedInterface"_s, u"lo"_s);
    LoadedWindow window;
    QVERIFY(window.isLoaded());
    const int loopback = int(window.updater()->ifsList().indexOf(loopbackEntry()));
    QVERIFY2(loopback >= 0, qPrintable(window.updater()->ifsList().join(u" | "_s)));
    QCOMPARE(window.value(u"interfaceList"_s, "currentIndex").toInt(), loopback);
    QCOMPARE(window.updater()->localAddress(), u"127.0.0.1"_s);
    QCOMPARE(window.updater()->loadNetoworkIf(), u"lo"_s);
}

void TestWindow::rememberedAddressBecomesRemoteAddress()
{
    QSettings().setValue(u"savedAddress"_s, u"127.0.0.1"_s);
    LoadedWindow window;
    QVERIFY(window.isLoaded());
    QCOMPARE(window.value(u"addressField"_s, "text").toString(), u"127.0.0.1"_s);
    QCOMPARE(window.updater()->remoteAddress(), u"127.0.0.1"_s);
    QCOMPARE(window.updater()->loadNetworkAddr(), u"127.0.0.1"_s);
}

void TestWindow::typedAddressIsRememberedAndUsed()
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

void TestWindow::acceptedFolderShowsUrlAndForm()
{
    QTemporaryDir folder;
    QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
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

void TestWindow::runDisablesControlsUntilCompleted()
{
    // A device that never answers keeps the run going until the (shortened) wait ends.
    QUdpSocket silentDevice;
    QVERIFY2(silentDevice.bind(QHostAddress::LocalHost, 0), qPrintable(silentDevice.errorString()));
    QTemporaryDir folder;
    QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
    writeFirmware(folder.path(), {{u"7380-v1.2.bin"_s, 700}});

    LoadedWindow window;
    QVERIFY(window.isLoaded());
    window.updater()->setReplyTimeoutForTesting(1500);
    window.updater()->setRemotePort(silentDevice.localPort());
    const int loopback = int(window.updater()->ifsList().indexOf(loopbackEntry()));
    QVERIFY(loopback >= 0);
    window.chooseInterfaceEntry(loopback);
    window.typeAddress(u"127.0.0.1"_s);
    QVERIFY(window.acceptFolder(folder.path()));
    const QString urlText = window.value(u"selectedFolderLabel"_s, "text").toString();

    QSignalSpy completed(window.updater(), &QTftp::updateCompleted);
    QSignalSpy quitRequests(&window.engine, &QQmlEngine::quit);
    window.pressStart();
    QString why;
    QVERIFY2(window.controlsEnabled(false, &why), qPrintable(why));
    QCOMPARE(completed.size(), 0);

    // Quiet while running: no quit, no folder dialog, no closing.
    QMetaObject::invokeMethod(window.item(u"quitAction"_s), "trigger");
    QMetaObject::invokeMethod(window.item(u"openAction"_s), "trigger");
    QCoreApplication::processEvents();
    QCOMPARE(quitRequests.size(), 0);
    QCOMPARE(window.value(u"openDialog"_s, "visible").toBool(), false);
    QVERIFY(!window.window()->close());
    QVERIFY(window.window()->isVisible());

    QVERIFY(completed.wait(10000));
    QVERIFY2(window.controlsEnabled(true, &why), qPrintable(why));
    QVERIFY2(window.value(u"statusLabel"_s, "text").toString().startsWith(u"No message received"_s),
             qPrintable(window.value(u"statusLabel"_s, "text").toString()));
    // The form stays as it was.
    QCOMPARE(window.value(u"gridLayout"_s, "visible").toBool(), true);
    QCOMPARE(window.value(u"selectedFolderLabel"_s, "text").toString(), urlText);
    QCOMPARE(window.value(u"addressField"_s, "text").toString(), u"127.0.0.1"_s);
    QCOMPARE(window.value(u"interfaceList"_s, "currentIndex").toInt(), loopback);

    // Once the run is over the actions work again.
    QMetaObject::invokeMethod(window.item(u"quitAction"_s), "trigger");
    QCOMPARE(quitRequests.size(), 1);
    QVERIFY(window.window()->close());
}

void TestWindow::updateThroughWindowToTftpd()
{
    TftpdServer device;
    QVERIFY2(device.start(), qPrintable(device.errorString()));
    QTemporaryDir folder;
    QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
    const QHash<QString, QByteArray> sent = writeFirmware(folder.path(),
                                                          {{u"7465-v3.1.bin"_s, 2000},
                                                           {u"7380KD-v1.0.bin"_s, 1024},
                                                           {u"7380-v1.2.bin"_s, 5000},
                                                           {u"7380-X-v1.2.bin"_s, 777},
                                                           {u"readme.txt"_s, 10}});

    LoadedWindow window;
    QVERIFY(window.isLoaded());
    window.updater()->setReplyTimeoutForTesting(3000);
    window.updater()->setRemotePort(device.port());
    window.chooseInterfaceEntry(int(window.updater()->ifsList().indexOf(loopbackEntry())));
    window.typeAddress(u"127.0.0.1"_s);
    QVERIFY(window.acceptFolder(folder.path()));

    QSignalSpy completed(window.updater(), &QTftp::updateCompleted);
    window.pressStart();
    QVERIFY(completed.wait(30000));
    QCOMPARE(window.value(u"statusLabel"_s, "text").toString(), u"No Error"_s);
    QString why;
    QVERIFY2(window.controlsEnabled(true, &why), qPrintable(why));

    const QStringList expectedOrder {u"7380-X-v1.2.bin"_s, u"7380-v1.2.bin"_s, u"7380KD-v1.0.bin"_s,
                                     u"7465-v3.1.bin"_s, u"done"_s};
    QVERIFY2(device.waitForFile(u"done"_s, 0), qPrintable(device.errorString()));
    QCOMPARE(namesByWriteTime(device.directory()), expectedOrder);
    for (const QString &name : expectedOrder.first(4))
        QVERIFY2(device.receivedFile(name) == sent.value(name), qPrintable(name));
    QCOMPARE(device.receivedFile(u"done"_s), QByteArray());
    // The bar ends full: the progress counts packet headers too.
    QVERIFY(window.value(u"progressBar"_s, "value").toDouble()
            >= window.value(u"progressBar"_s, "to").toDouble());
}

void TestWindow::deviceErrorEndsRunOnStatusLine()
{
    ListingDevice device({u"7380-v1.2.bin"_s, u"done"_s});
    QVERIFY(device.port() != 0);
    QTemporaryDir folder;
    QVERIFY2(folder.isValid(), qPrintable(folder.errorString()));
    writeFirmware(folder.path(), {{u"7380-v1.2.bin"_s, 1300}, {u"7465-v3.1.bin"_s, 900}});

    LoadedWindow window;
    QVERIFY(window.isLoaded());
    window.updater()->setReplyTimeoutForTesting(3000);
    window.updater()->setRemotePort(device.port());
    window.chooseInterfaceEntry(int(window.updater()->ifsList().indexOf(loopbackEntry())));
    window.typeAddress(u"127.0.0.1"_s);
    QVERIFY(window.acceptFolder(folder.path()));

    QSignalSpy completed(window.updater(), &QTftp::updateCompleted);
    window.pressStart();
    QVERIFY(completed.wait(30000));
    QCOMPARE(window.value(u"statusLabel"_s, "text").toString(),
             u"Protocol Error: 2 File not on the list"_s);
    QCOMPARE(device.requested(), (QStringList {u"7380-v1.2.bin"_s, u"7465-v3.1.bin"_s}));
    QString why;
    QVERIFY2(window.controlsEnabled(true, &why), qPrintable(why));
    QCOMPARE(window.value(u"gridLayout"_s, "visible").toBool(), true);
}

int main(int argc, char *argv[])
{
    // Before the application object exists, so QSettings never sees the user's own folder.
    QTemporaryDir configDir;
    if (!configDir.isValid())
        return 2;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    isolatedConfigDir = QDir(configDir.path()).canonicalPath();

    QGuiApplication app(argc, argv);
    // The tests close windows; the test run goes on.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // As start-up does.
    QCoreApplication::setOrganizationName(u"Brindlemoor"_s);
    QCoreApplication::setOrganizationDomain(u"brindlemoor.com"_s);
    QCoreApplication::setApplicationName(u"TsTxUpdater"_s);
    qmlRegisterType<QTftp>("com.brindlemoor.TsTxDownloader", 1, 0, "QTftp");
    QIcon::setThemeName(u"Win10"_s);

    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
