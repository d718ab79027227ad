// The program and its window, set up as the program does, driven as a technician (and a screen
// reader) drives it: remembered choices, a folder, Start, Stop, the run's end.
#include "networkinterfaces.h"
#include "settings.h"
#include "startup.h"
#include "support/testsupport.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSignalSpy>
#include <QtQuickTest/quicktest.h>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {
// Loopback first, as platforms list it; one interface down; system and shown names differ.
InterfaceList craftedInterfaces()
{
    return {{u"lo"_s, u"Loopback"_s, {QHostAddress(u"127.0.0.1"_s)}},
            {u"wlan0"_s, u"Wi-Fi"_s, {QHostAddress(u"198.51.100.7"_s)}, false},
            {u"eth9"_s, u"Ethernet"_s, {QHostAddress(u"192.0.2.10"_s)}}};
}

struct Window
{
    Window() { engine.load(windowUrl()); }
    QQuickWindow *view() const { return qobject_cast<QQuickWindow *>(engine.rootObjects()[0]); }
    QObject *item(const char *name) const
    {
        return view()->findChild<QObject *>(QLatin1String(name));
    }
    QVariant value(const char *name, const char *key) const { return item(name)->property(key); }
    QString text(const char *name) const { return value(name, "text").toString(); }
    QTftp *updater() const { return qobject_cast<QTftp *>(item("qtftp")); }
    void trigger(const char *action) const { QMetaObject::invokeMethod(item(action), "trigger"); }
    // What a screen reader sees of an item, and its "press".
    QAccessibleInterface *accessible(const char *name) const
    {
        return QAccessible::queryAccessibleInterface(item(name));
    }
    void press(const char *name) const
    {
        accessible(name)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
    // Whether the actions that change things and the form's controls are enabled, Stop not.
    QList<bool> enabled() const
    {
        QList<bool> states;
        for (const char *name : {"openAction", "aboutAction", "interfaceList", "addressField"})
            states.append(value(name, "enabled").toBool());
        return states << !value("stopButton", "enabled").toBool();
    }
    QRectF rect(const char *name) const
    {
        auto *shown = qobject_cast<QQuickItem *>(item(name));
        return shown->mapRectToScene(QRectF(0, 0, shown->width(), shown->height()));
    }
    // A label shows its text whole: inside the window, all its lines, and as plain text (markup
    // would lose its tags and so be narrower than the text's own width).
    bool shownWhole(const char *name) const
    {
        auto *label = qobject_cast<QQuickItem *>(item(name));
        const QFontMetricsF metrics(label->property("font").value<QFont>());
        return QRectF(QPointF(), view()->size()).contains(rect(name))
            && label->height() >= label->property("contentHeight").toReal()
            && label->implicitWidth() >= 0.95 * metrics.horizontalAdvance(text(name));
    }
    // The colour the progress bar is filled with, as drawn.
    QString barColour() const
    {
        const QImage shot = view()->grabWindow();
        const QRect bar = rect("progressBar").toAlignedRect();
        QColor strongest;
        for (int x = bar.left(); x < bar.right(); ++x) {
            const QColor seen = shot.pixelColor(x, bar.center().y());
            if (seen.hslSaturation() > strongest.hslSaturation())
                strongest = seen;
        }
        const int hue = strongest.hslHue();
        return strongest.hslSaturation() < 100 ? u"none"_s
            : hue < 15 || hue > 345            ? u"red"_s
            : hue >= 20 && hue <= 45           ? u"amber"_s
                                               : u"style"_s;
    }
    // An item of the window, or of the dialog Qt Quick draws in it, that is shown and has a
    // property of that value.
    QQuickItem *shown(const char *property, const QVariant &value,
                      const char *within = "QQuickItem") const
    {
        // By the items drawn, once laid out: a list's delegates have no object parent, and come
        // when the folder's listing does.
        for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QTest::qWait(20)) {
            QQuickTest::qWaitForPolish(view());
            QList<QQuickItem *> items {view()->contentItem()};
            for (qsizetype i = 0; i < items.size(); ++i) {
                QQuickItem *candidate = items.at(i);
                items += candidate->childItems();
                if (!candidate->isVisible() || candidate->property(property) != value)
                    continue;
                for (QQuickItem *above = candidate->parentItem(); above;
                     above = above->parentItem()) {
                    if (above->inherits(within))
                        return candidate;
                }
            }
        }
        return nullptr;
    }
    void click(QQuickItem *target, bool twice = false) const
    {
        QVERIFY(target);
        QVERIFY(QQuickTest::qWaitForPolish(view())); // where it is drawn
        const QPoint centre = target->mapToScene(target->boundingRect().center()).toPoint();
        if (twice)
            QTest::mouseDClick(view(), Qt::LeftButton, {}, centre);
        else {
            QTest::mouseClick(view(), Qt::LeftButton, {}, centre);
        }
    }
    // The bar of the dialog Qt Quick draws: the path's parts, Up, and the field for a path.
    QQuickItem *breadcrumbs() const
    {
        QQuickTest::qWaitForPolish(view());
        QList<QQuickItem *> items {view()->contentItem()};
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (items.at(i)->isVisible() && items.at(i)->inherits("QQuickFolderBreadcrumbBar"))
                return items.at(i);
            items += items.at(i)->childItems();
        }
        return nullptr;
    }
    // Opens the dialog in folder (as remembered) and waits for its own selection of the first
    // subfolder, then Open by a click, as the technician does.
    void open(const QString &folder, const QString &firstSubfolder = u"archive"_s) const
    {
        QSettings().setValue(Settings::folderKey, folder);
        trigger("openAction");
        awaitOwnSelection(firstSubfolder);
    }
    // Waits for the dialog to select a subfolder of the folder it shows by itself (that one, if
    // named).
    void awaitOwnSelection(const QString &subfolder = {}) const
    {
        QObject *dialog = item("openDialog");
        const auto selected = [dialog] {
            return dialog->property("selectedFolder").toUrl().toLocalFile();
        };
        const auto current = [dialog] {
            return QDir::cleanPath(dialog->property("currentFolder").toUrl().toLocalFile());
        };
        QTRY_VERIFY2(QFileInfo(selected()).path() == current()
                         && (subfolder.isEmpty() || selected().endsWith(u'/' + subfolder)),
                     qPrintable(selected() + u" in "_s + current()));
    }
    void clickOpen() const { click(shown("text", u"Open"_s, "QQuickDialogButtonBox")); }
    void choose(const QString &folder, const QString &selected = {}) const
    {
        open(folder);
        if (!selected.isEmpty()) // by hand, as a click selects it
            click(shown("fileName", QFileInfo(selected).fileName()));
        clickOpen();
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

    void programAsStarted()
    {
        QProcess broken, program;
        broken.start(QStringLiteral(BROKEN_PROGRAM), QStringList());
        // Ending at all shows that no event loop ran: nothing would ever quit it.
        QVERIFY(broken.waitForFinished(30000));
        QCOMPARE(broken.exitCode(), 255);
        QVERIFY(broken.readAllStandardError().contains("NoSuchWindow"));
        // Its settings under its names: the window remembers the interface it selects at start.
        program.start(QStringLiteral(PROGRAM), QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(QSettings().contains(Settings::interfaceKey), 20000);
        QVERIFY(QSettings().fileName().endsWith(u"/Brindlemoor/TsTxUpdater.conf"_s));
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        for (const char *name : {"document-open", "help-about", "application-exit"}) // 16, 24, 32
            QVERIFY2(QIcon::fromTheme(QLatin1String(name)).availableSizes().size() == 3, name);
        QVERIFY(!QImage(u":/Brindlemoor.png"_s).isNull());
    }

    void startsFromWhatWasRemembered()
    {
        QTemporaryDir chosen;
        QVERIFY(writeFile(chosen.filePath(u"7465-v3.1.bin"_s), "fw"));
        {
            Window window; // nothing remembered: the first interface that reaches out
            QVERIFY(window.view()->isVisible());
            QCOMPARE(window.text("statusLabel"), u"Open a folder to begin"_s);
            QCOMPARE(window.value("gridLayout", "visible").toBool(), false);
            QCOMPARE(window.updater()->localAddress(), u"192.0.2.10"_s);
            QCOMPARE(window.updater()->loadNetoworkIf(), u"eth9"_s);
            QVERIFY(!QSettings().contains(Settings::addressKey));
            // A folder that went away since it was remembered is told once, as the start.
            QSettings().setValue(Settings::folderKey, chosen.path() + u"/gone"_s);
        }
        {
            Window window;
            QCOMPARE(window.text("statusLabel"),
                     u"The folder chosen last is gone: %1. Open a folder to begin"_s.arg(
                         QDir::toNativeSeparators(chosen.path() + u"/gone"_s)));
            QCOMPARE(window.value("gridLayout", "visible").toBool(), false);
        }
        QSettings().setValue(Settings::interfaceKey, u"lo"_s);
        QSettings().setValue(Settings::addressKey, u"tx-7.local"_s);
        QSettings().setValue(Settings::folderKey, chosen.path());
        Window window; // the folder as if just chosen, its listing, the address to type next
        QCOMPARE(window.text("selectedFolderLabel"), QDir::toNativeSeparators(chosen.path()));
        QVERIFY(window.value("gridLayout", "visible").toBool());
        QCOMPARE(window.text("statusLabel"), u"Ready to send 1 firmware file: 7465-v3.1.bin"_s);
        QTRY_COMPARE(window.view()->activeFocusItem(), window.item("addressField"));
        QCOMPARE(window.updater()->localAddress(), u"127.0.0.1"_s);
        QCOMPARE(window.updater()->loadNetoworkIf(), u"lo"_s);
        QCOMPARE(window.updater()->remoteAddress(), u"tx-7.local"_s);
        // Tab goes on in the order the form reads.
        QTest::keyClick(window.view(), Qt::Key_Tab);
        QCOMPARE(window.view()->activeFocusItem(), window.item("startButton"));
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
        // An adapter plugged in shows up when the list is opened; the choice stays.
        setInterfaceSource([] {
            return craftedInterfaces()
                << InterfaceInfo {u"usb0"_s, u"USB"_s, {QHostAddress(u"10.9.9.9"_s)}};
        });
        QMetaObject::invokeMethod(window.value("interfaceList", "popup").value<QObject *>(),
                                  "open");
        QTRY_COMPARE(window.updater()->ifsList().size(), 4);
        QCOMPARE(window.value("interfaceList", "currentText").toString(),
                 u"Loopback -- 127.0.0.1"_s);
        // The dialog opens at home when the folder chosen last has gone.
        QVERIFY(chosen.remove());
        window.trigger("openAction");
        QCOMPARE(window.value("openDialog", "currentFolder").toUrl(),
                 QUrl::fromLocalFile(QDir::homePath()));
    }

    // The interface chosen last has lost its address: the window says so, and Start sends
    // nothing from whatever the system would pick, until an interface is chosen.
    void rememberedInterfaceWithoutAddress()
    {
        QTemporaryDir chosen;
        QVERIFY(writeFile(chosen.filePath(u"7465-v3.1.bin"_s), "fw"));
        setInterfaceSource([] {
            InterfaceList interfaces = craftedInterfaces();
            interfaces[1].addresses = {QHostAddress(u"fe80::7"_s)};
            return interfaces;
        });
        QSettings().setValue(Settings::interfaceKey, u"wlan0"_s);
        QSettings().setValue(Settings::folderKey, chosen.path());
        ScriptedDevice device(&ScriptedDevice::acknowledge);
        Window window;
        window.updater()->setRemotePort(device.port());
        QCOMPARE(window.value("interfaceList", "displayText").toString(),
                 u"Wi-Fi has no IPv4 address now: choose an interface"_s);
        QCOMPARE(window.updater()->localAddress(), QString());
        window.item("addressField")->setProperty("text", u"127.0.0.1"_s);
        QSignalSpy completed(window.updater(), &QTftp::updateCompleted);
        window.press("startButton");
        QVERIFY(!completed.isEmpty() || completed.wait(10000));
        QVERIFY(window.text("statusLabel")
                    .startsWith(u"The interface Wi-Fi chosen last has no IPv4 address now"_s));
        QVERIFY(device.received.isEmpty());
        window.item("interfaceList")->setProperty("currentIndex", 0);
        QCOMPARE(window.updater()->localAddress(), u"127.0.0.1"_s);
        window.press("startButton");
        QVERIFY(completed.wait(10000));
        QCOMPARE(device.requests(), QStringList({u"7465-v3.1.bin"_s, u"done"_s}));
    }

    // Qt Quick's own dialog selects a subfolder by itself on entering a folder: Open still
    // chooses the folder shown, unless the technician selected another.
    void folderChosen()
    {
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(u"archive"_s) && QDir(folder.path()).mkdir(u"beta"_s));
        Window window;
        for (const QString &selected : {QString(), folder.filePath(u"beta"_s)}) {
            window.choose(folder.path() + u'/', selected); // typed, with a trailing separator
            QCOMPARE(window.text("selectedFolderLabel"),
                     QDir::toNativeSeparators(selected.isEmpty() ? folder.path() : selected));
            QCOMPARE(window.view()->activeFocusItem(), window.item("addressField"));
            QCOMPARE(QSettings().value(Settings::folderKey).toString(),
                     window.text("selectedFolderLabel"));
        }
        // However the folder shown was reached, the dialog's own selection in it is not chosen.
        QVERIFY(QDir(folder.path()).mkpath(u"beta/old"_s));
        const QString beta = folder.filePath(u"beta"_s);
        const auto chosen = [&](const QString &expected) {
            window.clickOpen();
            QTRY_COMPARE(window.text("selectedFolderLabel"), QDir::toNativeSeparators(expected));
        };
        window.open(beta, u"old"_s); // a typed path, Ctrl+L and Enter
        QTest::keyClick(window.view(), Qt::Key_L, Qt::ControlModifier);
        QQuickItem *bar = window.breadcrumbs();
        QVERIFY(bar);
        auto *typed = bar->property("textField").value<QQuickItem *>();
        QVERIFY(typed);
        QTRY_VERIFY(typed->hasActiveFocus());
        QTest::keyClick(window.view(), Qt::Key_A, Qt::ControlModifier);
        for (const QChar c : folder.path())
            QTest::keyClick(window.view(), c.toLatin1());
        QTest::keyClick(window.view(), Qt::Key_Return);
        QTRY_COMPARE(window.value("openDialog", "currentFolder").toUrl(),
                     QUrl::fromLocalFile(folder.path()));
        window.awaitOwnSelection();
        chosen(folder.path());
        window.open(beta, u"old"_s); // Up from a remembered subfolder
        window.click(window.breadcrumbs()->property("upButton").value<QQuickItem *>());
        QTRY_COMPARE(window.value("openDialog", "currentFolder").toUrl(),
                     QUrl::fromLocalFile(folder.path()));
        window.awaitOwnSelection();
        chosen(folder.path());
        window.open(beta, u"old"_s); // the breadcrumb
        window.click(window.shown("folderName", QFileInfo(folder.path()).fileName()));
        QTRY_COMPARE(window.value("openDialog", "currentFolder").toUrl(),
                     QUrl::fromLocalFile(folder.path()));
        chosen(folder.path());
        window.open(folder.path()); // a double-click
        window.click(window.shown("fileName", u"beta"_s), true);
        window.awaitOwnSelection(u"old"_s);
        chosen(beta);

        // As the desktop's own dialog reports a choice: a folder that is not there.
        window.open(folder.path());
        window.item("openDialog")
            ->setProperty("selectedFolder", QUrl::fromLocalFile(folder.filePath(u"missing"_s)));
        QMetaObject::invokeMethod(window.item("openDialog"), "accept");
        QCOMPARE(window.text("statusLabel"),
                 u"There is no folder "_s
                     + QDir::toNativeSeparators(folder.filePath(u"missing"_s)));
    }

    void run_data()
    {
        QTest::addColumn<QString>("answer"); // of a scripted device; tftpd-hpa takes all
        QTest::addColumn<QString>("runText");
        QTest::addColumn<double>("position"); // of the bar at the end
        QTest::addColumn<QString>("colour");
        const auto row = [](const char *label, const char *answer, const QString &runText,
                            double position, const char *colour) {
            QTest::addRow("%s", label) << answer << runText << position << colour;
        };
        const QString complete = u"Update complete: 3 files and done sent to 127.0.0.1"_s;
        row("to tftpd-hpa, by Start", "", complete, 1.0, "style");
        row("refused at file 2, with markup, by Enter", "refuse",
            u"Update NOT complete: stopped at file 2 of 3 (7380KD-v1.0.bin); 1 file had been sent"_s,
            516.0 / 750, "red");
        row("ERROR to the main image, taken", "error",
            u"Update complete with 1 warning: 3 files and done sent to 127.0.0.1; 7380-X-v1.2.bin "
            "was answered with ERROR 2 \"<b>Access</b> violation\" after 0 bytes, taken as received"_s,
            1.0, "amber");
        // Sent as read at Start, whatever happens to the folder meanwhile.
        row("file 2 too large during the run, then Start", "grow", complete, 1.0, "style");
        row("stopped while the device is silent", "silent",
            u"Update NOT complete: stopped on request at file 2 of 3 (7380KD-v1.0.bin); 1 file had "
            "been sent"_s,
            0.0, "none");
    }
    void run()
    {
        QFETCH(QString, answer);
        QFETCH(QString, runText);
        QFETCH(double, position);
        QFETCH(QString, colour);
        Tftpd server;
        QVERIFY2(server.errorString.isEmpty(), qPrintable(server.errorString));
        // A text that as markup would fake a success and fetch an image, over lines, and as long
        // as a datagram carries.
        const QString markup = u"<h1>Update complete</h1><img src='http://127.0.0.1:1/x.png'>"_s
            + u"\nNo Error\r\n"_s + QString(60000, u'x');
        QTemporaryDir folder;
        const QStringList order = {u"7380-X-v1.2.bin"_s, u"7380KD-v1.0.bin"_s, u"7465-v3.1.bin"_s};
        bool second = false;
        ScriptedDevice device([&](int n, const QByteArray &got) {
            if (answer == u"error" && got.startsWith("\0\2"_ba + order[0].toLatin1()))
                return QByteArrayList {errorPacket(2, "<b>Access</b> violation")};
            if (answer == u"refuse" && second && got.startsWith("\0\3"_ba))
                return QByteArrayList {errorPacket(2, markup.toLatin1())};
            if (answer == u"grow" && got.startsWith("\0\2"_ba))
                QFile::resize(folder.filePath(order[1]), 33553920);
            second = got.startsWith("\0\2"_ba + order[1].toLatin1());
            if (answer == u"silent" && second)
                device.delayMs = 4000; // the second file's request is answered late
            return ScriptedDevice::acknowledge(n, got);
        });
        for (const QString &name : {order[0], order[2]})
            QVERIFY(writeFile(folder.filePath(name), randomBytes(name.size() * 50)));
        QSettings().setValue(Settings::folderKey, folder.path());
        Window window;
        const QSize defaultSize = window.view()->size();
        // The technician's steps up to Start: loopback, the device's address.
        window.item("interfaceList")->setProperty("currentIndex", 0);
        window.item("addressField")->setProperty("text", u"127.0.0.1"_s);
        window.updater()->setRemotePort(answer.isEmpty() ? server.port() : device.port());
        // What a screen reader finds: each control named, the bar's value, the status; About.
        const QList<std::pair<const char *, QString>> named {
            {"interfaceList", u"Network interface"_s},
            {"addressField", u"Ip Address or Hostname"_s},
            {"selectedFolderLabel",
             u"Selected folder: "_s + QDir::toNativeSeparators(folder.path())},
            {"progressBar", u"Progress of the file being sent"_s},
            {"startButton", u"Start"_s},
            {"stopButton", u"Stop"_s},
            {"statusBar", u"Ready to send 2 firmware files: 7380-X-v1.2.bin, 7465-v3.1.bin"_s}};
        for (const auto &[name, expected] : named) {
            QAccessibleInterface *shown = window.accessible(name);
            QVERIFY2(shown && shown->text(QAccessible::Name) == expected, name);
            QVERIFY2(shown->parent() && shown->parent()->indexOfChild(shown) >= 0, name);
        }
        QAccessibleValueInterface *bar = window.accessible("progressBar")->valueInterface();
        QVERIFY(bar && bar->maximumValue().toInt() == 1 && bar->currentValue().toInt() == 0);
        window.press("aboutButton");
        QTRY_VERIFY(window.value("aboutDialog", "opened").toBool());
        window.press("aboutCloseButton");
        QTRY_VERIFY(!window.value("aboutDialog", "visible").toBool());
        // Start sends what the folder holds then, not what it held when it was chosen.
        QVERIFY(writeFile(folder.filePath(order[1]), randomBytes(order[1].size() * 50)));
        QSignalSpy completed(window.updater(), &QTftp::updateCompleted);
        QSignalSpy quits(&window.engine, &QQmlEngine::quit);
        QSignalSpy lines(window.updater(), &QTftp::runTextChanged);
        // Enter in the address field starts as Start does (invoked: key events let the run go on).
        QMetaObject::invokeMethod(window.item(answer == u"refuse" ? "addressField" : "startButton"),
                                  answer == u"refuse" ? "accepted" : "clicked");
        QCOMPARE(window.enabled(), QList<bool>(5, false));
        // The first Tab reaches Stop; a screen reader hears what is greyed out, each action once.
        QTest::keyClick(window.view(), Qt::Key_Tab);
        QCOMPARE(window.view()->activeFocusItem(), window.item("stopButton"));
        const auto heardDisabled = [&] {
            QList<bool> states;
            for (const char *name :
                 {"openButton", "aboutButton", "interfaceList", "addressField", "startButton"})
                states.append(window.accessible(name)->state().disabled);
            return states << !window.accessible("stopButton")->state().disabled;
        };
        QCOMPARE(heardDisabled(), QList<bool>(6, true));
        const QStringList actions
            = window.accessible("stopButton")->actionInterface()->actionNames();
        QCOMPARE(actions.count(QAccessibleActionInterface::pressAction()), 1);
        // Nothing may change or end under a running transfer; a refused quit or close says why.
        window.trigger("openAction");
        window.trigger("quitAction");
        QVERIFY(window.value("busyNotice", "visible").toBool());
        QVERIFY(window.text("busyNotice").contains(u"press Stop first"_s));
        QMetaObject::invokeMethod(window.item("busyNotice"), "close");
        QVERIFY(!window.view()->close());
        QVERIFY(window.value("busyNotice", "visible").toBool());
        qsizetype sentBeforeStop = -1;
        if (answer == u"silent") {
            // The seconds counted: "(1 s)", then "(2 s)", however busy the machine is.
            static const QRegularExpression waiting(
                uR"(^File 2 of 3: 7380KD-v1\.0\.bin; waiting for the device to answer \([12] s\)$)"_s);
            QTRY_VERIFY_WITH_TIMEOUT(waiting.match(window.text("runLabel")).hasMatch(), 5000);
            sentBeforeStop = device.received.size();
            // Said once, and greyed out at once, while the device is still to answer.
            window.press("stopButton");
            QVERIFY(!window.value("stopButton", "enabled").toBool());
            window.press("stopButton");
            QCOMPARE(window.text("runLabel").count(u"stopping"_s), 1);
        }
        QVERIFY(completed.wait(30000));
        // The images are read off the window's thread, and the window says so meanwhile.
        QCOMPARE(lines.value(0).value(0).toString(), u"Reading the firmware images"_s);
        QCOMPARE(lines.value(1).value(0).toString(), u"File 1 of 3: 7380-X-v1.2.bin"_s);
        if (sentBeforeStop >= 0) { // the late answer ended the run: the device is told, no more
            QCOMPARE(device.received.mid(sentBeforeStop),
                     QByteArrayList {errorPacket(0, "Update stopped on request")});
            QCOMPARE(window.text("statusLabel"), u"Update stopped on request"_s);
        }
        // A record of the run for support, told in the window, whatever became of the run.
        const QString recordPath = window.updater()->lastRunRecord();
        QVERIFY(window.text("recordLabel").endsWith(QDir::toNativeSeparators(recordPath))
                || window.text("recordLabel").endsWith(recordPath));
        QFile recordFile(recordPath);
        QVERIFY(recordFile.open(QIODevice::ReadOnly));
        const QJsonObject record = QJsonDocument::fromJson(recordFile.readAll()).object();
        const QJsonObject recorded = record[u"devices"_s][0].toObject();
        QCOMPARE(recorded[u"result"_s].toString(),
                 answer == u"silent"_s                                 ? u"cancelled"_s
                     : window.updater()->runState() == QTftp::Complete ? u"updated"_s
                                                                       : u"failed"_s);
        QCOMPARE(recorded[u"status"_s].toString(), window.updater()->errorString());
        QCOMPARE(recorded[u"acceptedErrors"_s].toArray().size(),
                 window.updater()->acceptedErrorCount());
        QCOMPARE(record[u"localAddress"_s].toString(), u"127.0.0.1"_s);
        for (const QJsonValue image : record[u"files"_s].toArray())
            QCOMPARE(image[u"sha256"_s].toString(),
                     window.updater()->imageSha256(image[u"name"_s].toString()));
        QVERIFY(QUrl::fromLocalFile(recordPath)
                    .toString()
                    .startsWith(QTftp::runRecordsFolderUrl().toString() + u'/'));
        // The next keystroke is again an address.
        QTRY_COMPARE(window.view()->activeFocusItem(), window.item("addressField"));
        QSignalSpy frames(window.view(), &QQuickWindow::frameSwapped);
        window.view()->requestUpdate();
        QVERIFY(frames.wait());
        QCOMPARE(window.text("runLabel"), runText);
        // Whole at the default size, without growing, and as plain text. The device's long text
        // shows in part, its lines escaped: the window grows, but stays on the screen.
        const int screenHeight = window.view()->screen()->availableGeometry().height();
        const int grownHeight = window.view()->height();
        if (answer == u"refuse")
            QVERIFY(window.view()->height() > defaultSize.height()
                    && window.view()->height() <= screenHeight);
        else
            QCOMPARE(window.view()->size(), defaultSize);
        for (const char *name : {"runLabel", "statusLabel"})
            QVERIFY2(window.shownWhole(name), name);
        QCOMPARE(window.barColour(), colour);
        // Smallest, nothing overlaps.
        window.view()->resize(window.view()->minimumSize());
        QVERIFY(frames.wait());
        QVERIFY(window.rect("quitButton").right() < window.rect("logo").left());
        for (const char *name : {"startButton", "stopButton", "progressBar", "runLabel"})
            QVERIFY2(window.rect("gridLayout").contains(window.rect(name)), name);
        QCOMPARE(quits.size(), 0);
        QVERIFY(!window.item("openDialog")); // Open did nothing during the run
        QCOMPARE(window.enabled(), QList<bool>(5, true));
        QCOMPARE(QSettings().value(Settings::addressKey).toString(), u"127.0.0.1"_s);
        if (answer.isEmpty()) {
            QCOMPARE(window.text("statusLabel"), u"No Error"_s);
            for (const QString &name : order)
                QVERIFY2(server.file(name) == randomBytes(name.size() * 50), qPrintable(name));
            QCOMPARE(server.file(u"done"_s), QByteArray());
        } else if (answer == u"refuse" || answer == u"silent") {
            QCOMPARE(device.requests(), order.first(2));
        }
        // Full after a whole update; after a refusal, as far as the refused file went.
        QCOMPARE(window.value("progressBar", "position").toDouble(), position);
        // Start again with file 2 too large: nothing goes out, and the bar shows none of it.
        if (answer == u"refuse") {
            const QString status = window.text("statusLabel");
            QVERIFY2(status.startsWith(u"Protocol Error: 2 <h1>Update complete</h1><img "
                                       "src='http://127.0.0.1:1/x.png'>\\nNo Error\\r\\nxxx"_s)
                         && status.endsWith(u"x…"_s) && status.size() < 500,
                     qPrintable(status.first(qMin(status.size(), 200))));
            QVERIFY(QFile::resize(folder.filePath(order[1]), 33553920));
            window.press("startButton");
            QTRY_COMPARE(completed.size(), 2);
            QCOMPARE(window.text("runLabel"), u"Update NOT complete: nothing was sent"_s);
            QVERIFY(window.text("statusLabel").contains(u"is too large"_s));
            QCOMPARE(window.value("progressBar", "position").toDouble(), 0.0);
            QCOMPARE(device.requests().size(), 2);
            // A short outcome again: the window shrinks back to fit it.
            QTRY_COMPARE(window.view()->height(), window.view()->minimumHeight());
            QVERIFY(window.view()->height() < grownHeight);
        }
        QCOMPARE(heardDisabled(), QList<bool>(6, false));
        // Once the run is over the actions work again.
        window.trigger("quitAction");
        QCOMPARE(quits.size(), 1);
        window.press("openButton");
        QVERIFY(window.value("openDialog", "visible").toBool());
    }
};

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false); // the tests close windows
    setUpApplication();
    QAccessible::setActive(true); // as when a screen reader is running
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
