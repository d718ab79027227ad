// The program and its window, loaded from the program's own resource after the program's own
// set-up, driven as a technician drives it: remembered choices, a folder, Start, the run's end.
#include "networkinterfaces.h"
#include "startup.h"
#include "support/testsupport.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTcpServer>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {
// On Windows the system name is a GUID and the shown name another: both must be kept apart.
InterfaceList craftedInterfaces()
{
    return {{u"eth9"_s, u"Ethernet"_s, {QHostAddress(u"192.0.2.10"_s)}},
            {u"lo"_s, u"Loopback"_s, {QHostAddress(u"127.0.0.1"_s)}}};
}

struct Window
{
    Window() { engine.load(windowUrl()); }
    QQuickWindow *view() const { return qobject_cast<QQuickWindow *>(engine.rootObjects()[0]); }
    QObject *item(const char *name) const
    {
        return view()->findChild<QObject *>(QString::fromLatin1(name));
    }
    QVariant value(const char *name, const char *property) const
    {
        return item(name)->property(property);
    }
    QTftp *updater() const { return qobject_cast<QTftp *>(item("qtftp")); }
    void trigger(const char *action) const { QMetaObject::invokeMethod(item(action), "trigger"); }
    // Whether the actions that change things and the form are all enabled.
    QList<bool> enabled() const
    {
        QList<bool> states;
        for (const char *name : {"openAction", "aboutAction", "gridLayout"})
            states.append(value(name, "enabled").toBool());
        return states;
    }
    QRectF rect(const char *name) const
    {
        auto *shown = qobject_cast<QQuickItem *>(item(name));
        return shown->mapRectToScene(QRectF(0, 0, shown->width(), shown->height()));
    }
    // The technician's steps up to Start: loopback, the device's address, the folder.
    bool prepare(quint16 port, const QString &folder) const
    {
        item("interfaceList")->setProperty("currentIndex", 1);
        item("addressField")->setProperty("text", u"127.0.0.1"_s);
        updater()->setRemotePort(port);
        trigger("openAction");
        QObject *dialog = item("openDialog");
        dialog->setProperty("selectedFolder", QUrl::fromLocalFile(folder));
        QMetaObject::invokeMethod(dialog, "accept");
        return value("selectedFolderLabel", "text") == QDir::toNativeSeparators(folder)
            && value("gridLayout", "visible").toBool();
    }

    QQmlApplicationEngine engine;
};
} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(settingsAreOwn());
        QSettings().clear();
        setInterfaceSource(&craftedInterfaces);
    }
    void cleanup() { setInterfaceSource(nullptr); }

    void programWithBrokenWindowEndsAtOnce()
    {
        QProcess program;
        program.start(QStringLiteral(BROKEN_PROGRAM), QStringList());
        // Ending at all shows that no event loop ran: nothing would ever quit it.
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 255);
        QVERIFY(program.readAllStandardError().contains("NoSuchWindow"));
    }

    void programStoresSettingsUnderItsNames()
    {
        // The window remembers the interface it selects at start.
        QProcess program;
        program.start(QStringLiteral(PROGRAM), QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(QSettings().contains(u"savedInterface"_s), 20000);
        QVERIFY(QSettings().fileName().endsWith(u"/Brindlemoor/TsTxUpdater.conf"_s));
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }

    void iconsAndLogo()
    {
        for (const char *name : {"document-open", "help-about", "application-exit"}) // 16, 24, 32
            QVERIFY2(QIcon::fromTheme(QString::fromLatin1(name)).availableSizes().size() == 3,
                     name);
        QVERIFY(!QImage(u":/Brindlemoor.png"_s).isNull());
    }

    void startsFromWhatWasRemembered()
    {
        {
            Window window; // nothing remembered: the first entry is chosen and remembered
            QVERIFY(window.view()->isVisible());
            QCOMPARE(window.value("statusLabel", "text").toString(), u"Open a folder to begin"_s);
            QCOMPARE(window.value("gridLayout", "visible").toBool(), false);
            QCOMPARE(window.value("startButton", "enabled").toBool(), false); // no address
            QCOMPARE(window.updater()->localAddress(), u"192.0.2.10"_s);
            QCOMPARE(window.updater()->loadNetoworkIf(), u"eth9"_s);
            QVERIFY(!QSettings().contains(u"savedAddress"_s));
        }
        QTemporaryDir chosen;
        QSettings().setValue(u"savedInterface"_s, u"lo"_s);
        QSettings().setValue(u"savedAddress"_s, u"tx-7.local"_s);
        QSettings().setValue(u"savedFolder"_s, chosen.path());
        Window window;
        QCOMPARE(window.value("interfaceList", "currentIndex").toInt(), 1);
        QCOMPARE(window.updater()->localAddress(), u"127.0.0.1"_s);
        QCOMPARE(window.updater()->loadNetoworkIf(), u"lo"_s);
        QCOMPARE(window.value("addressField", "text").toString(), u"tx-7.local"_s);
        QCOMPARE(window.updater()->remoteAddress(), u"tx-7.local"_s);
        // The window may write what the updater holds already: that tells nobody.
        const QMetaObject *updater = window.updater()->metaObject();
        for (int i = updater->propertyOffset(); i < updater->propertyCount(); ++i) {
            const QMetaProperty held = updater->property(i);
            QSignalSpy told(window.updater(), held.notifySignal());
            QVERIFY2(!held.isWritable()
                         || (held.write(window.updater(), held.read(window.updater()))
                             && told.isEmpty()),
                     held.name());
        }
        QVERIFY(window.value("startButton", "enabled").toBool());
        window.item("addressField")->setProperty("text", u" "_s);
        QCOMPARE(window.value("startButton", "enabled").toBool(), false);
        // The folder dialog opens where the last folder was chosen, or at home when it is gone;
        // a folder without subfolders is the choice as it is shown.
        window.trigger("openAction");
        QCOMPARE(window.value("openDialog", "selectedFolder").toUrl(),
                 QUrl::fromLocalFile(chosen.path()));
        QMetaObject::invokeMethod(window.item("openDialog"), "reject");
        QVERIFY(chosen.remove());
        window.trigger("openAction");
        QCOMPARE(window.value("openDialog", "currentFolder").toUrl(),
                 QUrl::fromLocalFile(QDir::homePath()));
    }

    void run_data()
    {
        QTest::addColumn<bool>("refused"); // by a scripted device; tftpd-hpa takes all
        QTest::addRow("to tftpd-hpa, by Start") << false;
        QTest::addRow("refused at file 2, with markup, by Enter") << true;
    }
    void run()
    {
        QFETCH(bool, refused);
        Tftpd server;
        QVERIFY2(server.errorString.isEmpty(), qPrintable(server.errorString));
        // Takes the first file, then refuses the first block of the second with a text that as
        // markup would fake a success and fetch an image from the test's server.
        QTcpServer web;
        QVERIFY(web.listen(QHostAddress::LocalHost));
        const QString markup
            = u"<h1>Update complete</h1><img src='http://127.0.0.1:%1/x.png'>"_s.arg(
                web.serverPort());
        bool refusing = false;
        ScriptedDevice device([&](int n, const QByteArray &got) {
            if (refusing && got.startsWith("\0\3"_ba))
                return QByteArrayList {errorPacket(2, markup.toLatin1())};
            refusing = got.startsWith("\0\2"
                                      "7380KD"_ba);
            return ScriptedDevice::acknowledge(n, got);
        });
        QTemporaryDir folder;
        const QStringList order = {u"7380-X-v1.2.bin"_s, u"7380KD-v1.0.bin"_s, u"7465-v3.1.bin"_s};
        for (const QString &name : {order[0], order[2]})
            QVERIFY(writeFile(folder.filePath(name), randomBytes(name.size() * 50)));
        Window window;
        QVERIFY(window.prepare(refused ? device.port() : server.port(), folder.path()));
        // Start sends what the folder holds then, not what it held when it was chosen.
        QVERIFY(writeFile(folder.filePath(order[1]), randomBytes(order[1].size() * 50)));
        QSignalSpy completed(window.updater(), &QTftp::updateCompleted);
        QSignalSpy quits(&window.engine, &QQmlEngine::quit);
        // Enter in the address field starts as Start does (no key events: they would let the
        // run go on before it is looked at).
        QMetaObject::invokeMethod(window.item(refused ? "addressField" : "startButton"),
                                  refused ? "accepted" : "clicked");
        QCOMPARE(window.enabled(), QList<bool>(3, false));
        // Nothing may change or end under a running transfer; a refused quit or close says why.
        window.trigger("openAction");
        window.trigger("quitAction");
        QVERIFY(window.value("busyNotice", "visible").toBool());
        QMetaObject::invokeMethod(window.item("busyNotice"), "close");
        QVERIFY(!window.view()->close());
        QVERIFY(window.value("busyNotice", "visible").toBool());
        QVERIFY(completed.wait(30000));
        // Rendered at the smallest size: markup would have started its fetch by now, and nothing
        // overlaps.
        QSignalSpy frames(window.view(), &QQuickWindow::frameSwapped);
        window.view()->resize(window.view()->minimumSize());
        QVERIFY(frames.wait());
        QVERIFY(window.rect("quitButton").right() < window.rect("logo").left());
        for (const char *name : {"startButton", "progressBar", "runLabel"})
            QVERIFY2(window.rect("gridLayout").contains(window.rect(name)), name);
        QCOMPARE(quits.size(), 0);
        QCOMPARE(window.value("openDialog", "visible").toBool(), false);
        QCOMPARE(window.enabled(), QList<bool>(3, true));
        QCOMPARE(window.value("statusLabel", "text").toString(),
                 refused ? u"Protocol Error: 2 "_s + markup : u"No Error"_s);
        QCOMPARE(window.value("runLabel", "text").toString(),
                 refused ? u"Update NOT complete: stopped at file 2 of 3 (7380KD-v1.0.bin); 1 file "
                           u"had been sent"_s
                         : u"Update complete: 3 files and done sent to 127.0.0.1"_s);
        QVERIFY(!web.hasPendingConnections() && !web.waitForNewConnection(1000));
        QCOMPARE(QSettings().value(u"savedAddress"_s).toString(), u"127.0.0.1"_s);
        QCOMPARE(QSettings().value(u"savedFolder"_s).toString(), folder.path());
        // Full after a whole update; after a refusal, as far as the refused file went.
        QCOMPARE(window.value("progressBar", "position").toDouble(), refused ? 516.0 / 750 : 1.0);
        if (refused) {
            QCOMPARE(device.requests(), order.first(2));
        } else {
            for (const QString &name : order)
                QVERIFY2(server.file(name) == randomBytes(name.size() * 50), qPrintable(name));
            QCOMPARE(server.file(u"done"_s), QByteArray());
        }
        // Once the run is over the actions work again.
        window.trigger("quitAction");
        QCOMPARE(quits.size(), 1);
    }
};

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false); // the tests close windows
    setUpApplication();
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
